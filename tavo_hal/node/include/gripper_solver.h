// Gripper opening to gripper motor position. The gripper linkage folds in four
// segments of π/4; inside each one the opening (stroke) is a sine of the
// reduced angle, and a Newton iteration inverts it. ROS-free.
#pragma once

#include <cmath>
#include <functional>
#include <iostream>

namespace gripper_solver {

constexpr double radius = 17.5;
constexpr double constant = M_PI / 8;
constexpr double constraint1 = M_PI / 4;
constexpr double constraint2 = M_PI / 2;
constexpr double constraint3 = 3 * M_PI / 4;
constexpr double constraint4 = M_PI;
constexpr double bias = 0.10890854532444616;
constexpr double kFirstSegmentLow = -0.1;

constexpr double kInitialGuess = -1.0;
constexpr double kTolerance = 1e-6;
constexpr int kMaxIterations = 1000;

// Segment of the opening angle θ = bias − pos: multiplier k and reduced angle
// θ'. False outside every segment (borders included).
inline bool segment_of(double pos, int& k, double& reduced) {
  const double theta = bias - pos;
  const double lows[] = {kFirstSegmentLow, constraint1, constraint2, constraint3};
  const double highs[] = {constraint1, constraint2, constraint3, constraint4};
  const double starts[] = {0.0, constraint1, constraint2, constraint3};
  for (int i = 0; i < 4; ++i) {
    if (lows[i] < theta && theta < highs[i]) {
      k = 2 * i + 1;
      reduced = theta - starts[i];
      return true;
    }
  }
  return false;
}

// Stroke at `pos` minus the wanted stroke; 0 (with a line on stderr) outside the segments.
inline double func(double pos, double target_stroke) {
  int k = 0;
  double reduced = 0.0;
  if (!segment_of(pos, k, reduced)) {
    std::cerr << "gripper_position is out of limit" << std::endl;
    return 0.0;
  }
  return 2 * (k * radius * std::sin(constant) - 17.5 * std::sin(constant - reduced)) - target_stroke;
}

inline double func_derivative(double pos) {
  int k = 0;
  double reduced = 0.0;
  if (!segment_of(pos, k, reduced)) return 0.0;
  return -35 * std::cos(constant - reduced);
}

inline double newton_raphson(const std::function<double(double)>& f, const std::function<double(double)>& df,
                             double initial_guess, double tol, int max_iter) {
  double x = initial_guess;
  double x_next = x;
  for (int i = 0; i < max_iter; ++i) {
    const double y = f(x);
    const double dy = df(x);
    if (std::fabs(dy) < 1e-6) {
      std::cerr << "Derivative too small, stopping." << std::endl;
      return x;
    }
    x_next = x - y / dy;
    if (std::fabs(x_next - x) < tol) return x_next;
    x = x_next;
  }
  return x_next;
}

// Motor position for the wanted gripper opening; the last iterate when the
// opening cannot be reached.
inline double motor_position_for_opening(float target_stroke) {
  return newton_raphson([target_stroke](double pos) { return func(pos, target_stroke); }, func_derivative,
                        kInitialGuess, kTolerance, kMaxIterations);
}

}  // namespace gripper_solver
