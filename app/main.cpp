// zhand-station: the ZorvathHand test station. No arguments, no environment:
// everything lives in the working directory.
#include "form.h"
#include "startup.h"

int main() {
    StartUp();
    FormLoop();
    return 0;
}
