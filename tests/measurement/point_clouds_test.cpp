// The cloud readers against hand-written files (what becomes a point, what is skipped, what
// refuses the file and where), every truncation of a small binary file, and the clouds'
// inspection against the probe-point path it must agree with.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qorv/measurement/inspection.h"
#include "qorv/measurement/point_clouds.h"
#include "tests/in_order.h"
#include "tests/test_seed.h"

namespace {

struct Case {
  const char* name;
  gmCloudKind kind;
  std::string bytes;
  std::vector<double> xyz;    // the points read, when the file is taken
  std::vector<long> skipped;  // their lines (0 for binary rows)
  long refusedAt = -1;        // the byte offset of a refusal
};
Case row(const char* name, gmCloudKind kind, std::string bytes, std::vector<double> xyz,
         std::vector<long> skipped, long refusedAt = -1) {
  return {name, kind, std::move(bytes), std::move(xyz), std::move(skipped), refusedAt};
}

std::string le(float v) {
  char b[4];
  std::memcpy(b, &v, 4);
  return std::string(b, 4);
}

TEST(PointClouds, FilesReadSkippedOrRefused) {
  const std::string plyHead =
      "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
      "property float z\nproperty uchar red\nelement face 1\n"
      "property list uchar int vertex_indices\nend_header\n";
  const std::string binHead =
      "ply\r\nformat binary_little_endian 1.0\r\ncomment c\r\nelement vertex 2\r\n"
      "property float x\r\nproperty float y\r\nproperty float z\r\nend_header\n";
  const std::string two = le(1) + le(2) + le(3) + le(4) + le(5) + le(6);
  const Case cases[] = {
      row("xyz blanks, tabs, commas, extra columns", gmCloudKind::xyz,
          "X Y Z\n# scan\n1 2 3\n4,5 , 6,7\n\t7\t8\t9\t0.5\r\n\n// note\n",
          {1, 2, 3, 4, 5, 6, 7, 8, 9}, {}),
      row("xyz bad rows skipped with their lines", gmCloudKind::xyz,
          "1 2 3\nnan 1 2\n1 2\n+-3 1 1\n1,,2,3\n1 2 inf\n5 5 5", {1, 2, 3, 5, 5, 5},
          {2, 3, 4, 5, 6}),
      row("pts counts", gmCloudKind::pts, "2\n1 2 3 -5 1 1 1\n4 5 6 -5 1 1 1\n1\n7 8 9\n",
          {1, 2, 3, 4, 5, 6, 7, 8, 9}, {}),
      row("pts count that lies", gmCloudKind::pts, "x\n3\n1 2 3\n4 5 6\n", {}, {}, 2),
      row("ascii ply, face skipped", gmCloudKind::ply, plyHead + "1 2 3 255\n4 5 6 0\n3 0 1 1\n",
          {1, 2, 3, 4, 5, 6}, {}),
      row("ascii ply nan vertex", gmCloudKind::ply, plyHead + "nan 2 3 255\n4 5 6 0\n3 0 1 1\n",
          {4, 5, 6}, {11}),
      row("ascii ply short vertex line", gmCloudKind::ply, plyHead + "1 2 3\n4 5 6 0\n3 0 1 1\n",
          {}, {}, static_cast<long>(plyHead.size())),
      row("ascii ply fewer lines than counted", gmCloudKind::ply, plyHead + "1 2 3 255\n4 5 6 0\n",
          {}, {}, -2),
      row("ascii ply text past the counts", gmCloudKind::ply,
          plyHead + "1 2 3 255\n4 5 6 0\n3 0 1 1\n9\n", {}, {}, -3),
      row("binary ply, CRLF header", gmCloudKind::ply, binHead + two, {1, 2, 3, 4, 5, 6}, {}),
      row("binary ply, bytes past the counts", gmCloudKind::ply, binHead + two + "\n", {}, {},
          static_cast<long>(binHead.size() + two.size())),
      row("no end_header", gmCloudKind::ply,
          "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n", {}, {}, -3),
      row("no z", gmCloudKind::ply,
          "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
          "end_header\n1 2\n",
          {}, {}, 0),
      row("count that cannot be", gmCloudKind::ply,
          "ply\nformat ascii 1.0\nelement vertex -1\nend_header\n", {}, {}, 21),
      row("binary count that lies", gmCloudKind::ply,
          "ply\nformat binary_big_endian 1.0\nelement vertex 99999999999999\n"
          "property double x\nproperty double y\nproperty double z\nend_header\n" +
              std::string(48, '\0'),
          {}, {}, -3),
      row("unknown format", gmCloudKind::ply, "ply\nformat binary_middle_endian 1.0\nend_header\n",
          {}, {}, 4),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int threads : {1, 3}) {
      const gmPointCloud cloud = gmReadPointCloud(c.bytes, c.kind, threads);
      if (c.refusedAt != -1) {
        ASSERT_FALSE(cloud.ok());
        EXPECT_EQ(cloud.size(), 0u);
        // -2: the end of the file; -3: anywhere (the reason says where).
        const long at = c.refusedAt == -2 ? static_cast<long>(c.bytes.size()) : c.refusedAt;
        if (at >= 0) {
          EXPECT_EQ(static_cast<long>(cloud.errorOffset), at) << cloud.error;
        }
        continue;
      }
      ASSERT_TRUE(cloud.ok()) << cloud.error << " at " << cloud.errorOffset;
      EXPECT_EQ(cloud.xyz, c.xyz);
      ASSERT_EQ(cloud.skippedCount(), c.skipped.size());
      for (std::size_t k = 0; k < c.skipped.size(); ++k)
        EXPECT_EQ(cloud.skipped[k].line, c.skipped[k]);
    }
  }
}

TEST(PointClouds, DetectedByContentThenExtension) {
  EXPECT_EQ((Seq{gmDetectCloud("scan.txt", "ply\nform"), gmDetectCloud("a.b/scan.PTS", "12\n1 2"),
                 gmDetectCloud("scan.asc", "1 2 3"), gmDetectCloud("dir.xyz/points", "1,2,3,4")}),
            (Seq{gmCloudKind::ply, gmCloudKind::pts, gmCloudKind::xyz, gmCloudKind::csv}));
  EXPECT_EQ(gmDetectCloud("points.csv", "id,x,y,z"), gmCloudKind::csv);
}

// Every prefix of a binary file with a face list after the vertices is refused at the end of what
// is there, and every one-byte overwrite of its header is taken or refused, never a crash.
TEST(PointClouds, TruncatedAndDamagedBinaryFiles) {
  std::string file =
      "ply\nformat binary_little_endian 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
      "property float z\nproperty float nx\nelement face 2\nproperty list uchar int "
      "vertex_indices\n"
      "end_header\n";
  const std::size_t header = file.size();
  for (int i = 0; i < 12; ++i) file += le(static_cast<float>(i));
  for (int f = 0; f < 2; ++f) {
    file += '\x03';
    for (int i = 0; i < 3; ++i) file += std::string("\x01\0\0\0", 4);
  }
  ASSERT_TRUE(gmReadPointCloud(file, gmCloudKind::ply, 1).ok());
  for (std::size_t cut = 0; cut < file.size(); ++cut) {
    const gmPointCloud c =
        gmReadPointCloud(std::string_view(file).substr(0, cut), gmCloudKind::ply, 2);
    ASSERT_FALSE(c.ok()) << cut;
    EXPECT_LE(c.errorOffset, cut) << c.error;
    if (cut >= header) {
      EXPECT_EQ(c.errorOffset, cut) << c.error;
    }
  }
  std::mt19937 rng(qorv_test::seedFor(42));
  SCOPED_TRACE("seed " + std::to_string(qorv_test::seedFor(42)));
  for (std::size_t at = 0; at < file.size(); ++at) {
    std::string damaged = file;
    damaged[at] = static_cast<char>(rng());
    const gmPointCloud c = gmReadPointCloud(damaged, gmCloudKind::ply, 2);
    EXPECT_TRUE(c.ok() || c.errorOffset <= damaged.size());
    EXPECT_LE(c.size(), 3u);
  }
}

// A cloud judged flat gives what the probe-point path gives for the same points, uncompensated
// and compensated, and its fits match theirs on a cloud small enough to be fitted whole.
TEST(PointClouds, CloudRunAgreesWithProbePoints) {
  QORV_SEEDED(std::mt19937_64 rng, 7);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<gmInspectionFeature> fs;
  fs.emplace_back("top", gmInspectionFeature::PLANE, ERPmIsometrie3D(), 0, 0, -5, 5, -5, 5,
                  gmInspectionFeature::INSIDE, -0.01, 0.01);
  fs.emplace_back("ball", gmInspectionFeature::SPHERE,
                  ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(0, 0, 10)), 3, 0, 0, 6.28, -1.5, 1.5,
                  gmInspectionFeature::INSIDE, -0.02, 0.02);
  gmInspection inspection(fs);
  inspection.setMaxDistance(2);
  std::vector<double> xyz;
  std::vector<gmMeasuredPoint> points;
  for (int i = 0; i < 3000; ++i) {
    const double p[3] = {6 * u(rng), 6 * u(rng), i % 3 ? 0.05 * u(rng) : 10 + 4 * u(rng)};
    xyz.insert(xyz.end(), p, p + 3);
    gmMeasuredPoint m;
    m.centre = ERPoint3D(p[0], p[1], p[2]);
    points.push_back(m);
  }
  xyz[3] = std::nan("");
  points[1].centre = ERPoint3D(xyz[3], xyz[4], xyz[5]);
  for (double diameter : {0.0, 0.5}) {
    const gmCloudResults cloud = inspection.runCloud(xyz.data(), points.size(), diameter, 2);
    const std::vector<gmInspectedPoint> probe = inspection.run(points, diameter, 1);
    for (std::size_t i = 0; i < points.size(); ++i) {
      ASSERT_EQ(cloud.feature[i] >= 0 ? cloud.feature[i] : -1, probe[i].feature) << i;
      EXPECT_EQ(gmCloudResults::skipOf(cloud.feature[i]), probe[i].skip);
      if (probe[i].feature >= 0) {
        EXPECT_EQ(cloud.deviation[i], probe[i].deviation);
      }
    }
    const auto whole = inspection.summarize(probe, points);
    const auto flat = inspection.summarizeCloud(xyz.data(), cloud, diameter, 20000, 2);
    const auto sampled = inspection.summarizeCloud(xyz.data(), cloud, diameter, 100);
    for (std::size_t k = 0; k < fs.size(); ++k) {
      EXPECT_EQ(flat[k].stats.num_projected(), whole[k].stats.num_projected());
      EXPECT_DOUBLE_EQ(flat[k].stats.mean(), whole[k].stats.mean());
      EXPECT_EQ(flat[k].outOfTolerance, whole[k].outOfTolerance);
      EXPECT_EQ(flat[k].fitted, whole[k].fitted);
      EXPECT_NEAR(flat[k].formError, whole[k].formError, 1e-12);
      // A hundredth of the points fits nearly the same form.
      EXPECT_NEAR(sampled[k].formError, whole[k].formError, 0.5 * whole[k].formError + 1e-9);
    }
  }
}

}  // namespace
