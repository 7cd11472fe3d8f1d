// Gripper solver, IMU quaternion and battery units of the node programs.
#include <gtest/gtest.h>

#include <cmath>

#include "feedback_math.h"
#include "gripper_solver.h"

namespace {

using feedback_math::Quaternion;
using feedback_math::quaternion_from_rpy;

// Stroke at a motor position, read back through func with a zero target.
double stroke_at(double pos) { return gripper_solver::func(pos, 0.0); }

TEST(GripperSolver, ReachableOpeningsGiveTheExpectedMotorPositions) {
  EXPECT_NEAR(gripper_solver::motor_position_for_opening(0.0f), 0.10890854532444616, 1e-9);
  EXPECT_NEAR(gripper_solver::motor_position_for_opening(10.0f), -0.18667, 1e-5);
  EXPECT_NEAR(gripper_solver::motor_position_for_opening(50.0f), -1.35353, 1e-5);
  EXPECT_NEAR(gripper_solver::motor_position_for_opening(100.0f), -2.81930, 1e-5);
}

TEST(GripperSolver, SolutionReproducesTheWantedStroke) {
  for (float opening : {1.0f, 17.0f, 33.3f, 66.6f, 90.0f, 107.0f}) {
    const double pos = gripper_solver::motor_position_for_opening(opening);
    EXPECT_NEAR(stroke_at(pos), opening, 1e-4) << "opening " << opening;
  }
}

TEST(GripperSolver, StrokeIsContinuousAcrossSegmentBordersAndSpansTheRange) {
  using gripper_solver::bias;
  for (double border : {gripper_solver::constraint1, gripper_solver::constraint2, gripper_solver::constraint3}) {
    // θ = bias − pos, so θ just below / above the border:
    const double below = stroke_at(bias - (border - 1e-9));
    const double above = stroke_at(bias - (border + 1e-9));
    EXPECT_NEAR(below, above, 1e-6) << "border " << border;
  }
  EXPECT_NEAR(stroke_at(bias - 1e-12), 0.0, 1e-9);
  EXPECT_NEAR(stroke_at(bias - (M_PI - 1e-9)), 107.15, 0.01);
}

TEST(GripperSolver, OutsideTheSegmentsFuncComplainsAndBothReturnZero) {
  using gripper_solver::bias;
  for (double theta : {-1.0, -0.2, 3.5, 4.0}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(gripper_solver::func(bias - theta, 5.0), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "gripper_position is out of limit\n") << "θ " << theta;
    EXPECT_EQ(gripper_solver::func_derivative(bias - theta), 0.0);
  }
  EXPECT_NEAR(gripper_solver::func_derivative(bias), -35 * std::cos(gripper_solver::constant), 1e-12);
}

TEST(GripperSolver, UnreachableOpeningSendsTheLastIterateWithBothMessages) {
  testing::internal::CaptureStderr();
  const double pos = gripper_solver::motor_position_for_opening(110.0f);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NEAR(pos, -3.06889, 1e-5);
  EXPECT_EQ(err, "gripper_position is out of limit\nDerivative too small, stopping.\n");
}

TEST(NewtonRaphson, ConvergesStopsOnFlatDerivativeAndHonoursTheIterationLimit) {
  const double root = gripper_solver::newton_raphson([](double x) { return x * x - 2; }, [](double x) { return 2 * x; },
                                                     1.0, 1e-6, 1000);
  EXPECT_NEAR(root, std::sqrt(2.0), 1e-9);

  testing::internal::CaptureStderr();
  const double flat =
      gripper_solver::newton_raphson([](double) { return 1.0; }, [](double) { return 0.0; }, 4.0, 1e-6, 1000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Derivative too small, stopping.\n");
  EXPECT_EQ(flat, 4.0);

  // x² + 1 has no root: after two iterations from 2 the result is the second iterate.
  const double x1 = 2.0 - 5.0 / 4.0;
  const double x2 = x1 - (x1 * x1 + 1) / (2 * x1);
  const double limited =
      gripper_solver::newton_raphson([](double x) { return x * x + 1; }, [](double x) { return 2 * x; }, 2.0, 1e-6, 2);
  EXPECT_DOUBLE_EQ(limited, x2);
}

void expect_quaternion(const Quaternion& q, double x, double y, double z, double w) {
  EXPECT_NEAR(q.x, x, 1e-12);
  EXPECT_NEAR(q.y, y, 1e-12);
  EXPECT_NEAR(q.z, z, 1e-12);
  EXPECT_NEAR(q.w, w, 1e-12);
}

Quaternion hamilton(const Quaternion& a, const Quaternion& b) {
  return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
          a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

TEST(ImuQuaternion, SingleAxisRotations) {
  const double h = std::sqrt(0.5);
  expect_quaternion(quaternion_from_rpy(0, 0, 0), 0, 0, 0, 1);
  expect_quaternion(quaternion_from_rpy(0, 0, M_PI / 2), 0, 0, h, h);
  expect_quaternion(quaternion_from_rpy(M_PI / 2, 0, 0), h, 0, 0, h);
  expect_quaternion(quaternion_from_rpy(0, M_PI / 2, 0), 0, h, 0, h);
}

TEST(ImuQuaternion, RollThenPitchThenYawAboutFixedAxes) {
  const double roll = 0.3, pitch = -0.7, yaw = 2.1;
  const Quaternion qx{std::sin(roll / 2), 0, 0, std::cos(roll / 2)};
  const Quaternion qy{0, std::sin(pitch / 2), 0, std::cos(pitch / 2)};
  const Quaternion qz{0, 0, std::sin(yaw / 2), std::cos(yaw / 2)};
  const Quaternion expected = hamilton(qz, hamilton(qy, qx));
  expect_quaternion(quaternion_from_rpy(roll, pitch, yaw), expected.x, expected.y, expected.z, expected.w);
}

TEST(BatteryUnits, WholeUnitsTruncatedTowardZeroAndPercentOf3500) {
  EXPECT_EQ(feedback_math::battery_volts(5299), 52.0f);
  EXPECT_EQ(feedback_math::battery_volts(5234), 52.0f);
  EXPECT_EQ(feedback_math::battery_amperes(-150), -1.0f);
  EXPECT_EQ(feedback_math::battery_amperes(-99), 0.0f);
  EXPECT_EQ(feedback_math::battery_volts(32767), 327.0f);
  EXPECT_EQ(feedback_math::battery_percent(1750), 50.0f);
  EXPECT_EQ(feedback_math::battery_percent(3500), 100.0f);
  EXPECT_FLOAT_EQ(feedback_math::battery_percent(-32768), -32768 * 100 / 3500.0);
}

TEST(BatteryUnits, BatteryStateKeepsHundredthsAndAFractionWithinZeroToOne) {
  EXPECT_FLOAT_EQ(feedback_math::battery_volts_exact(5299), 52.99f);
  EXPECT_FLOAT_EQ(feedback_math::battery_amperes_exact(-150), -1.5f);
  EXPECT_FLOAT_EQ(feedback_math::battery_amperes_exact(-99), -0.99f);
  EXPECT_FLOAT_EQ(feedback_math::battery_fraction(1750), 0.5f);
  EXPECT_EQ(feedback_math::battery_fraction(3500), 1.0f);
  EXPECT_EQ(feedback_math::battery_fraction(4000), 1.0f);
  EXPECT_EQ(feedback_math::battery_fraction(-20), 0.0f);
}

}  // namespace
