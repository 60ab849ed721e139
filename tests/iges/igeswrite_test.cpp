// The example curve writer, read back through the translator library as the program reads it.
#include "igestestfiles.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct WriterRun {
    int status = -1;
    std::string errors;
};

WriterRun Write(const std::string& args) {
    const std::string errors = igestest::ScratchFile(".stderr");
    const std::string command = "'" IGESWRITE_PATH "' " + args + " > /dev/null 2> '" + errors + "'";
    const int raw = std::system(command.c_str());
    WriterRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.errors = igestest::ReadText(errors);
    return run;
}

// A circle's point at angle t about `axis`, angle 0 along x projected into its plane.
gp_XYZ OnCircle(const gp_XYZ& centre, double radius, gp_XYZ axis, double t) {
    axis.Normalize();
    gp_XYZ zero = gp_XYZ(1, 0, 0) - axis * axis.X();
    zero.Normalize();
    const gp_XYZ side = axis.Crossed(zero);
    return centre + zero * (radius * std::cos(t)) + side * (radius * std::sin(t));
}

}  // namespace

TEST(IgesWrite, CurvesComeBackThroughTheLibraryInOrderAndInPlace) {
    const std::string file = igestest::ScratchFile(".igs");
    const WriterRun run = Write("-o '" + file + "' circle 5 -3 2 12 1 0 1 arc 0 0 -9.5 40 0 0 1 30 120 " +
                          "polyline 0 0 0 10 0 0 10 5 1 " + "spline 0 0 0 10 5 0 20 0 0 10 -5 0 0 0 0");
    ASSERT_EQ(run.status, 0) << run.errors;
    const igestest::LibraryResult read = igestest::ReadThroughLibrary(file);
    EXPECT_EQ(read.unit, 2) << "millimetres";
    ASSERT_EQ(read.lines.size(), 4u);

    const gp_XYZ tilted(1, 0, 1);
    igestest::ExpectFollows(
        read.lines[0], [&](double t) { return OnCircle(gp_XYZ(5, -3, 2), 12, tilted, t); }, 0.0, 2 * kPi);
    // Anticlockwise about +z from 30 to 120 degrees.
    igestest::ExpectFollows(
        read.lines[1], [](double t) { return OnCircle(gp_XYZ(0, 0, -9.5), 40, gp_XYZ(0, 0, 1), t); }, kPi / 6,
        2 * kPi / 3);

    EXPECT_EQ(read.lines[2], (igestest::Polyline{{0, 0, 0}, {10, 0, 0}, {10, 5, 1}})) << "a polyline keeps its points";

    using igestest::ToXYZ;
    const igestest::Polyline& loop = read.lines[3];
    ASSERT_GE(loop.size(), 8u);
    EXPECT_LT((ToXYZ(loop.front()) - ToXYZ(loop.back())).Modulus(), 1e-4) << "closed";
    for (const gp_XYZ& through : {gp_XYZ(10, 5, 0), gp_XYZ(20, 0, 0), gp_XYZ(10, -5, 0)}) {
        EXPECT_LT(igestest::DistanceToPolyline(through, loop), 0.011);
    }
    // Closed smoothly: no corner where the loop meets itself.
    const gp_XYZ in = ToXYZ(loop.front()) - ToXYZ(loop[loop.size() - 2]);
    const gp_XYZ out = ToXYZ(loop[1]) - ToXYZ(loop.front());
    EXPECT_GT(in.Dot(out) / (in.Modulus() * out.Modulus()), 0.95);
}

TEST(IgesWrite, CurveFileWithCommentsGivesTheSameFileAsTheCommandLine) {
    // The same name in folders of their own, so that the two files can be compared byte for byte.
    const std::string byArgs = igestest::ScratchFile("_args"), byFile = igestest::ScratchFile("_file");
    std::filesystem::create_directories(byArgs);
    std::filesystem::create_directories(byFile);
    const std::string curves = igestest::ScratchFile(".txt");
    igestest::WriteText(curves, "# a lance and a hole\npolyline 1 2 0\n   3 4 0  # first leg\n 5 4.5 0\n\n"
                                "circle 0 0 0 7.5 0 0 -1\n");
    ASSERT_EQ(Write("-o '" + byArgs + "/cut.igs' 'polyline 1 2 0 3 4 0 5 4.5 0' circle 0 0 0 7.5 0 0 -1").status, 0);
    ASSERT_EQ(Write("-f '" + curves + "' -o '" + byFile + "/cut.igs'").status, 0);
    const std::string written = igestest::ReadText(byArgs + "/cut.igs");
    EXPECT_FALSE(written.empty());
    EXPECT_EQ(written, igestest::ReadText(byFile + "/cut.igs"));
}

TEST(IgesWrite, BadInputIsRefusedWithStatusTwoAndNoFile) {
    const std::string file = igestest::ScratchFile(".igs");
    const std::vector<std::string> bad = {
        "circle 0 0 0 5 0 0 1",                          // no output named
        "-o '" + file + ".txt' circle 0 0 0 5 0 0 1",    // a name the program would not read
        "-o '" + file + "'",                             // no curve
        "-o '" + file + "' circle 0 0 0 5 0 0",          // a number short
        "-o '" + file + "' circle 0 0 0 0 0 0 1",        // no radius
        "-o '" + file + "' circle 0 0 0 5 0 0 0",        // no axis
        "-o '" + file + "' arc 0 0 0 5 0 0 1 10 370",    // a full turn
        "-o '" + file + "' polyline 0 0 0",              // one point
        "-o '" + file + "' polyline 0 0 0 1 1 1 1 1 1",  // a point repeated
        "-o '" + file + "' spline 0 0 0 1 0 0 0 0 0",    // closed through two points
        "-o '" + file + "' line 0 0 0 1 1 1",            // no such curve, so numbers before any curve
        "-o '" + file + "' circle 0 0 0 5x 0 0 1",       // not a number
        "-o '" + file + "' circle 0 0 0 nan 0 0 1",      // not a finite number
        "-o '" + file + "' --unknown circle 0 0 0 5 0 0 1",
        "-o '" + file + "' -f '" + file + ".absent'",
        "-o",
    };
    for (const std::string& args : bad) {
        SCOPED_TRACE(args);
        const WriterRun run = Write(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.errors.find("corvex_igeswrite: "), std::string::npos) << run.errors;
        EXPECT_FALSE(std::filesystem::exists(file));
    }
}
