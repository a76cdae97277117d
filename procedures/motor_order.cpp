#include "motor_order.h"

#include <algorithm>
#include <random>

namespace {

std::minstd_rand generator;
std::vector<unsigned> fixedDraws;
std::size_t nextFixed = 0;

}  // namespace

std::array<int, 4> DrawMotorOrder(const std::function<unsigned()>& draw) {
    std::array<int, 4> order{};
    for (std::size_t i = 0; i < order.size(); ++i) {
        const auto taken = [&](int motor) {
            return std::find(order.begin(), order.begin() + i, motor) != order.begin() + i;
        };
        int motor = 1 + static_cast<int>(draw() % 4);
        // A source that keeps repeating taken motors (a badly fixed test
        // list) must not hang the station: after many tries take the first
        // free motor.
        for (int tries = 1; taken(motor); ++tries) {
            if (tries < 1000) {
                motor = 1 + static_cast<int>(draw() % 4);
            } else {
                for (motor = 1; taken(motor);) ++motor;
            }
        }
        order[i] = motor;
    }
    return order;
}

void SeedMotorDraws(std::time_t seconds) {
    generator.seed(static_cast<std::minstd_rand::result_type>(seconds));
    nextFixed = 0;
}

unsigned NextMotorDraw() {
    if (fixedDraws.empty()) return static_cast<unsigned>(generator());
    const unsigned draw = fixedDraws[nextFixed % fixedDraws.size()];
    ++nextFixed;
    return draw;
}

void UseFixedMotorDraws(std::vector<unsigned> draws) {
    fixedDraws = std::move(draws);
    nextFixed = 0;
}
