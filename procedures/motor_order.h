// The random motor order of the Finger Movement test, and the seam that lets
// a test fix it.
#pragma once

#include <array>
#include <ctime>
#include <functional>
#include <vector>

// Draws one cycle's order: for each of the four positions a draw r gives motor
// 1 + (r mod 4), drawn again while that motor already stands earlier. The
// result is a permutation of 1..4.
std::array<int, 4> DrawMotorOrder(const std::function<unsigned()>& draw);

// Seeds the station's generator (the standard minimal-standard engine) with
// the time in seconds; two runs started within one second draw alike.
void SeedMotorDraws(std::time_t seconds);
// The next non-negative draw: from the generator, or from the fixed draws.
unsigned NextMotorDraw();

// Test hook: draws come from this list, round and round, and seeding is
// ignored. An empty list returns to the generator.
void UseFixedMotorDraws(std::vector<unsigned> draws);
