// The report page's script: builds each chart from its spec in the page's
// data when its section is first shown. Every text reaches the page as text
// (textContent, chart labels), never as markup.
(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("report-data").textContent);
  var specs = data.charts;

  // Marks each canvas once Chart.js has drawn it, for whoever checks the page.
  Chart.register({
    id: "zhandDrawn",
    afterRender: function (chart) { chart.canvas.dataset.drawn = "yes"; }
  });
  Chart.defaults.font.size = 11;
  Chart.defaults.animation = false;

  function axis(title, extra) {
    var a = { title: { display: !!title, text: title || "" } };
    for (var k in extra) a[k] = extra[k];
    return a;
  }

  function dataset(spec, d) {
    var set = {
      label: d.label,
      data: d.data,
      backgroundColor: d.pointColors || d.color,
      borderColor: d.pointColors && spec.type !== "line" ? d.pointColors : d.color,
      borderWidth: spec.type === "bar" && !d.type ? 0 : 1.5,
      pointRadius: d.pointRadii || (d.pointRadius !== undefined ? d.pointRadius : 3),
      showLine: d.showLine,
      fill: false,
      spanGaps: true
    };
    if (d.type) set.type = d.type;
    if (d.pointColors) {
      set.pointBackgroundColor = d.pointColors;
      set.pointBorderColor = d.pointColors;
      set.backgroundColor = d.color;
    }
    if (d.pointStyle) set.pointStyle = d.pointStyle;
    if (d.dashed) set.borderDash = [6, 4];
    if (spec.histogram) {
      set.barPercentage = 1;
      set.categoryPercentage = 1;
    }
    return set;
  }

  // The X-mR charts come compact: their labels as the runs' labels and an
  // index into them with the cycle, their limit lines as one number, their
  // marks as the indices of the points, and the moving ranges as those of
  // the individuals chart they name.
  function expand(spec) {
    if (spec.expanded) return spec;
    spec.expanded = true;
    var base = spec.valuesOf !== undefined ? expand(specs[spec.valuesOf]) : spec;
    if (spec.points) {
      var p = spec.points;
      spec.labels = p.of.map(function (r, i) {
        return p.runs[r] + (p.cycles[i] !== null ? " cycle " + p.cycles[i] : "");
      });
    } else if (spec.valuesOf !== undefined) {
      spec.labels = base.labels;
    }
    var values = base.datasets[0].data;
    spec.datasets.forEach(function (d) {
      if (d.constant !== undefined) d.data = spec.labels.map(function () { return d.constant; });
      if (d.movingRanges) {
        d.data = values.map(function (v, i) { return i === 0 ? null : Math.abs(v - values[i - 1]); });
      }
      if (d.markAt) {
        d.data = values.map(function () { return null; });
        d.markAt.forEach(function (i) { d.data[i] = values[i]; });
      }
      if (d.highlight) {
        d.pointColors = d.data.map(function () { return d.color; });
        d.pointRadii = d.data.map(function () { return 2; });
        d.highlight.forEach(function (i) { d.pointColors[i] = "#c62828"; d.pointRadii[i] = 5; });
      }
    });
    return spec;
  }

  function config(spec) {
    spec = expand(spec);
    var numericX = spec.type === "scatter";
    var y = axis(spec.yTitle, { stacked: !!spec.stacked });
    if (spec.yMax !== undefined) { y.min = 0; y.max = spec.yMax; }
    return {
      type: spec.type,
      data: {
        labels: spec.labels,
        datasets: spec.datasets.map(function (d) { return dataset(spec, d); })
      },
      options: {
        responsive: true,
        maintainAspectRatio: false,
        normalized: true,
        interaction: { mode: "nearest", intersect: false },
        scales: {
          x: axis(spec.xTitle, numericX ? { type: "linear" } : { stacked: !!spec.stacked }),
          y: y
        },
        plugins: {
          title: { display: true, text: spec.title },
          legend: { display: spec.datasets.length > 1, labels: { boxWidth: 12 } }
        }
      }
    };
  }

  function draw(root) {
    var canvases = root.querySelectorAll("canvas[data-chart]");
    for (var i = 0; i < canvases.length; ++i) {
      var canvas = canvases[i];
      if (canvas.dataset.built) continue;
      var spec = specs[Number(canvas.dataset.chart)];
      if (!spec) continue;
      canvas.dataset.built = "yes";
      new Chart(canvas, config(spec));
    }
  }

  // Charts outside closed sections now; the others when their section opens.
  var closed = document.querySelectorAll("details");
  for (var i = 0; i < closed.length; ++i) {
    closed[i].addEventListener("toggle", function (event) {
      if (event.target.open) draw(event.target);
    });
  }
  document.querySelectorAll("details[open]").forEach(draw);
  document.querySelectorAll("main > section").forEach(function (section) {
    section.querySelectorAll(":scope > .charts").forEach(draw);
  });

  document.querySelectorAll("button[data-open], button[data-close]").forEach(function (button) {
    button.addEventListener("click", function () {
      var open = button.hasAttribute("data-open");
      var section = document.getElementById(button.dataset.open || button.dataset.close);
      section.querySelectorAll("details").forEach(function (d) {
        if (d.style.display !== "none") d.open = open;
      });
    });
  });

  var filter = document.getElementById("unit-filter");
  if (filter) {
    filter.addEventListener("input", function () {
      var text = filter.value.toLowerCase();
      document.querySelectorAll("details.unit").forEach(function (d) {
        d.style.display = d.dataset.serial.toLowerCase().indexOf(text) >= 0 ? "" : "none";
      });
    });
  }

  // A link to a unit or a measurement opens its section.
  function openTarget() {
    var id = decodeURIComponent(location.hash.slice(1));
    var target = id && document.getElementById(id);
    if (target && target.tagName === "DETAILS") target.open = true;
  }
  window.addEventListener("hashchange", openTarget);
  openTarget();
})();
