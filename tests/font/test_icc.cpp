// The embedded RGB display profile: its structure, that the generator in
// tools/ reproduces it, and that independent ICC readers (LittleCMS, Java)
// accept it and compute sensible colours from it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "font/font.h"
#include "test_support.h"

#ifdef ZYK_HAVE_LCMS2
#include <lcms2.h>
#endif

using namespace zyk;

namespace {

std::uint32_t be32(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
std::uint32_t be16(const unsigned char *p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }
std::string sig(const unsigned char *p) { return std::string(reinterpret_cast<const char *>(p), 4); }

struct Tag {
  std::uint32_t off, size;
};

std::string profile_bytes() {
  auto p = icc_srgb_profile();
  return std::string(reinterpret_cast<const char *>(p.data()), p.size());
}

}  // namespace

TEST(IccProfile, HeaderAndTags) {
  auto p = icc_srgb_profile();
  const unsigned char *d = p.data();
  ASSERT_GE(p.size(), 132u);
  EXPECT_EQ(be32(d), p.size()) << "size field";
  EXPECT_EQ(be32(d + 8), 0x02100000u) << "version 2.1.0";
  EXPECT_EQ(sig(d + 12), "mntr");
  EXPECT_EQ(sig(d + 16), "RGB ");
  EXPECT_EQ(sig(d + 20), "XYZ ");
  EXPECT_EQ(sig(d + 36), "acsp");
  EXPECT_EQ(be32(d + 64), 0u) << "rendering intent";
  EXPECT_EQ(be32(d + 68), 0x0000F6D6u);
  EXPECT_EQ(be32(d + 72), 0x00010000u);
  EXPECT_EQ(be32(d + 76), 0x0000D32Du);

  std::uint32_t n = be32(d + 128);
  ASSERT_EQ(n, 10u);
  ASSERT_LE(132 + 12 * n, p.size());
  std::map<std::string, Tag> tags;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
  for (std::uint32_t i = 0; i < n; i++) {
    const unsigned char *r = d + 132 + 12 * i;
    Tag t{be32(r + 4), be32(r + 8)};
    EXPECT_EQ(t.off % 4, 0u) << sig(r);
    EXPECT_GE(t.off, 132 + 12 * n) << sig(r);
    ASSERT_LE(std::uint64_t{t.off} + t.size, p.size()) << sig(r);
    tags[sig(r)] = t;
    ranges.emplace_back(t.off, t.off + t.size);
  }
  std::sort(ranges.begin(), ranges.end());
  for (std::size_t i = 1; i < ranges.size(); i++) EXPECT_LE(ranges[i - 1].second, ranges[i].first) << "overlap";

  std::map<std::string, std::string> type_of = {{"desc", "desc"}, {"cprt", "text"}, {"wtpt", "XYZ "},
                                                {"bkpt", "XYZ "}, {"rXYZ", "XYZ "}, {"gXYZ", "XYZ "},
                                                {"bXYZ", "XYZ "}, {"rTRC", "curv"}, {"gTRC", "curv"},
                                                {"bTRC", "curv"}};
  for (auto &[name, type] : type_of) {
    ASSERT_TRUE(tags.count(name)) << name;
    EXPECT_EQ(sig(d + tags[name].off), type) << name;
  }
  // The colorants add up exactly to the D50 connection-space white.
  for (int row = 0; row < 3; row++) {
    std::int64_t sum = 0;
    for (const char *c : {"rXYZ", "gXYZ", "bXYZ"})
      sum += static_cast<std::int32_t>(be32(d + tags[c].off + 8 + 4 * row));
    EXPECT_EQ(sum, static_cast<std::int64_t>(be32(d + 68 + 4 * row))) << "row " << row;
  }
  // Tone curves: 2048 entries from 0 to 65535, never decreasing.
  for (const char *c : {"rTRC", "gTRC", "bTRC"}) {
    const unsigned char *t = d + tags[c].off;
    ASSERT_EQ(be32(t + 8), 2048u) << c;
    ASSERT_EQ(tags[c].size, 12u + 2 * 2048) << c;
    EXPECT_EQ(be16(t + 12), 0u);
    EXPECT_EQ(be16(t + 12 + 2 * 2047), 65535u);
    for (int i = 1; i < 2048; i++) ASSERT_LE(be16(t + 12 + 2 * (i - 1)), be16(t + 12 + 2 * i)) << c << " " << i;
  }
  // Description text names this project's profile.
  const unsigned char *desc = d + tags["desc"].off;
  std::uint32_t len = be32(desc + 8);
  ASSERT_GT(len, 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(desc + 12), len - 1), "zyk_out_pdfa sRGB display profile");
}

TEST(IccProfile, GeneratorReproducesTheEmbeddedProfile) {
  std::string out_path = zyk_test::temp_dir() + "/regen.icc";
  std::string gen = std::string(ZYK_SOURCE_DIR) + "/tools/gen_icc.py";
  std::string out;
  if (zyk_test::run_command("python3 '" + gen + "' '" + out_path + "' 2>&1", &out) != 0)
    GTEST_SKIP() << "python3 not available: " << out;
  EXPECT_TRUE(zyk_test::read_all(out_path) == profile_bytes()) << "data/zyk-srgb.icc is stale; rerun tools/gen_icc.py";
}

TEST(IccProfile, GeneratorReproducesTheEmbeddedCmykProfile) {
  std::string out_path = zyk_test::temp_dir() + "/regen-cmyk.icc";
  std::string gen = std::string(ZYK_SOURCE_DIR) + "/tools/gen_icc_cmyk.py";
  std::string out;
  if (zyk_test::run_command("python3 '" + gen + "' '" + out_path + "' 2>&1", &out) != 0)
    GTEST_SKIP() << "python3 not available: " << out;
  auto p = icc_cmyk_profile();
  EXPECT_TRUE(zyk_test::read_all(out_path) == std::string(reinterpret_cast<const char *>(p.data()), p.size()))
      << "data/zyk-cmyk.icc is stale; rerun tools/gen_icc_cmyk.py";
}

#ifdef ZYK_HAVE_LCMS2
namespace {

struct Profile {
  cmsHPROFILE h;
  explicit Profile(cmsHPROFILE p) : h(p) {}
  ~Profile() {
    if (h) cmsCloseProfile(h);
  }
  Profile(const Profile &) = delete;
  Profile &operator=(const Profile &) = delete;
};

struct Transform {
  cmsHTRANSFORM h;
  explicit Transform(cmsHTRANSFORM t) : h(t) {}
  ~Transform() {
    if (h) cmsDeleteTransform(h);
  }
  Transform(const Transform &) = delete;
  Transform &operator=(const Transform &) = delete;
};

}  // namespace

TEST(IccProfile, LittleCmsReadsItAsAnSrgbDisplayProfile) {
  auto p = icc_srgb_profile();
  Profile ours(cmsOpenProfileFromMem(p.data(), static_cast<cmsUInt32Number>(p.size())));
  ASSERT_NE(ours.h, nullptr);
  EXPECT_EQ(cmsGetEncodedICCversion(ours.h), 0x02100000u);
  EXPECT_EQ(cmsGetDeviceClass(ours.h), cmsSigDisplayClass);
  EXPECT_EQ(cmsGetColorSpace(ours.h), cmsSigRgbData);
  EXPECT_EQ(cmsGetPCS(ours.h), cmsSigXYZData);
  EXPECT_TRUE(cmsIsMatrixShaper(ours.h));
  char text[128] = {};
  cmsGetProfileInfoASCII(ours.h, cmsInfoDescription, "en", "US", text, sizeof text);
  EXPECT_STREQ(text, "zyk_out_pdfa sRGB display profile");

  Profile reference(cmsCreate_sRGBProfile());
  Profile lab(cmsCreateLab4Profile(nullptr));  // D50
  Profile xyz(cmsCreateXYZProfile());
  Transform to_lab(cmsCreateTransform(ours.h, TYPE_RGB_16, lab.h, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
  Transform ref_lab(cmsCreateTransform(reference.h, TYPE_RGB_16, lab.h, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
  Transform to_xyz(cmsCreateTransform(ours.h, TYPE_RGB_16, xyz.h, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
  ASSERT_NE(to_lab.h, nullptr);
  ASSERT_NE(ref_lab.h, nullptr);
  ASSERT_NE(to_xyz.h, nullptr);

  cmsUInt16Number white[3] = {65535, 65535, 65535}, black[3] = {0, 0, 0};
  cmsCIELab l;
  cmsDoTransform(to_lab.h, white, &l, 1);
  EXPECT_NEAR(l.L, 100.0, 0.01);
  EXPECT_NEAR(l.a, 0.0, 0.05);
  EXPECT_NEAR(l.b, 0.0, 0.05);
  cmsDoTransform(to_lab.h, black, &l, 1);
  EXPECT_NEAR(l.L, 0.0, 0.01);
  cmsCIEXYZ w;
  cmsDoTransform(to_xyz.h, white, &w, 1);
  EXPECT_NEAR(w.X, 0.9642, 0.001);
  EXPECT_NEAR(w.Y, 1.0, 0.001);
  EXPECT_NEAR(w.Z, 0.8249, 0.001);

  struct {
    const char *name;
    cmsUInt16Number rgb[3];
  } colours[] = {{"red", {65535, 0, 0}},         {"green", {0, 65535, 0}},       {"blue", {0, 0, 65535}},
                 {"cyan", {0, 65535, 65535}},    {"magenta", {65535, 0, 65535}}, {"yellow", {65535, 65535, 0}},
                 {"grey 50%", {32768, 32768, 32768}}, {"dark grey", {2570, 2570, 2570}},
                 {"skin", {58000, 40000, 33000}},     {"olive", {30000, 33000, 9000}}};
  for (auto &c : colours) {
    cmsCIELab a, b;
    cmsDoTransform(to_lab.h, c.rgb, &a, 1);
    cmsDoTransform(ref_lab.h, c.rgb, &b, 1);
    EXPECT_LT(cmsDeltaE(&a, &b), 0.5) << c.name << ": L " << a.L << " vs " << b.L << ", a " << a.a << " vs " << b.a
                                      << ", b " << a.b << " vs " << b.b;
  }
}

// The CMYK profile must give what the painting operators' conversion gives:
// the naive RGB r = (1 - c)(1 - k), ... in sRGB.
TEST(IccProfile, LittleCmsReadsTheCmykProfileAsNaiveCmykOnSrgb) {
  auto p = icc_cmyk_profile();
  Profile ours(cmsOpenProfileFromMem(p.data(), static_cast<cmsUInt32Number>(p.size())));
  ASSERT_NE(ours.h, nullptr);
  EXPECT_EQ(cmsGetEncodedICCversion(ours.h), 0x02100000u);
  EXPECT_EQ(cmsGetDeviceClass(ours.h), cmsSigOutputClass);
  EXPECT_EQ(cmsGetColorSpace(ours.h), cmsSigCmykData);
  EXPECT_EQ(cmsGetPCS(ours.h), cmsSigLabData);
  for (int intent : {INTENT_PERCEPTUAL, INTENT_RELATIVE_COLORIMETRIC, INTENT_SATURATION}) {
    EXPECT_TRUE(cmsIsIntentSupported(ours.h, static_cast<cmsUInt32Number>(intent), LCMS_USED_AS_INPUT)) << intent;
    EXPECT_TRUE(cmsIsIntentSupported(ours.h, static_cast<cmsUInt32Number>(intent), LCMS_USED_AS_OUTPUT)) << intent;
  }
  Profile srgb(cmsCreate_sRGBProfile());
  Profile lab(cmsCreateLab4Profile(nullptr));
  Transform to_lab(cmsCreateTransform(ours.h, TYPE_CMYK_DBL, lab.h, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
  Transform ref_lab(cmsCreateTransform(srgb.h, TYPE_RGB_DBL, lab.h, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
  Transform back(cmsCreateTransform(lab.h, TYPE_Lab_DBL, ours.h, TYPE_CMYK_DBL, INTENT_RELATIVE_COLORIMETRIC, 0));
  ASSERT_NE(to_lab.h, nullptr);
  ASSERT_NE(ref_lab.h, nullptr);
  ASSERT_NE(back.h, nullptr);
  // LittleCMS takes CMYK as percentages in its double formats.
  struct {
    const char *name;
    double cmyk[4];
    double limit;  // delta E; the nodes of the table are exact
  } colours[] = {{"paper", {0, 0, 0, 0}, 0.5},        {"black", {0, 0, 0, 100}, 0.5},
                 {"cyan", {100, 0, 0, 0}, 1.0},      {"magenta", {0, 100, 0, 0}, 1.0},
                 {"yellow", {0, 0, 100, 0}, 1.0},    {"red", {0, 100, 100, 0}, 1.0},
                 {"grey 50%", {0, 0, 0, 50}, 1.0},   {"skin", {10, 35, 45, 5}, 2.5},
                 {"olive", {50, 40, 90, 30}, 2.5},   {"dark blue", {90, 70, 10, 40}, 2.5}};
  for (auto &c : colours) {
    double rgb[3];
    for (int i = 0; i < 3; i++) rgb[i] = (1 - c.cmyk[i] / 100) * (1 - c.cmyk[3] / 100);
    cmsCIELab a, b;
    cmsDoTransform(to_lab.h, c.cmyk, &a, 1);
    cmsDoTransform(ref_lab.h, rgb, &b, 1);
    EXPECT_LT(cmsDeltaE(&a, &b), c.limit) << c.name << ": L " << a.L << " vs " << b.L << ", a " << a.a << " vs "
                                          << b.a << ", b " << a.b << " vs " << b.b;
    // Back to CMYK and to Lab again. The reverse table is coarse (an output
    // profile must have one, but nothing reads these files' CMYK through
    // it): only the neutrals, which lie on its nodes, come back exactly.
    if (c.cmyk[0] == 0 && c.cmyk[1] == 0 && c.cmyk[2] == 0) {
      double cmyk[4];
      cmsCIELab again;
      cmsDoTransform(back.h, &a, cmyk, 1);
      cmsDoTransform(to_lab.h, cmyk, &again, 1);
      EXPECT_LT(cmsDeltaE(&a, &again), 1.0) << c.name;
    }
  }
}
#else
TEST(IccProfile, LittleCmsReadsItAsAnSrgbDisplayProfile) { GTEST_SKIP() << "built without LittleCMS"; }
#endif

TEST(IccProfile, JavaAcceptsIt) {
  std::string out;
  if (zyk_test::run_command("java -version 2>&1", &out) != 0) GTEST_SKIP() << "no java";
  auto p = icc_srgb_profile();
  std::string icc = zyk_test::write_temp("zyk-srgb.icc", profile_bytes());
  std::string src = zyk_test::write_temp("IccCheck.java",
                                         "import java.awt.color.*;\n"
                                         "public class IccCheck {\n"
                                         "  public static void main(String[] a) throws Exception {\n"
                                         "    ICC_Profile p = ICC_Profile.getInstance(a[0]);\n"
                                         "    System.out.println(\"class \" + p.getProfileClass());\n"
                                         "    System.out.println(\"space \" + p.getColorSpaceType());\n"
                                         "    System.out.println(\"pcs \" + p.getPCSType());\n"
                                         "    System.out.println(\"major \" + p.getMajorVersion());\n"
                                         "    float[] w = new ICC_ColorSpace(p).toCIEXYZ(new float[] {1f, 1f, 1f});\n"
                                         "    System.out.printf(\"white %.3f %.3f %.3f%n\", w[0], w[1], w[2]);\n"
                                         "  }\n"
                                         "}\n");
  ASSERT_EQ(zyk_test::run_command("java -Djava.awt.headless=true '" + src + "' '" + icc + "' 2>&1", &out), 0) << out;
  std::string want = "class " + std::to_string(1 /* ICC_Profile.CLASS_DISPLAY */) + "\n" +
                     "space " + std::to_string(5 /* ColorSpace.TYPE_RGB */) + "\n" +
                     "pcs " + std::to_string(0 /* ColorSpace.TYPE_XYZ */) + "\n" + "major 2\n";
  EXPECT_EQ(out.substr(0, want.size()), want) << out;
  float x = 0, y = 0, z = 0;
  ASSERT_EQ(std::sscanf(out.c_str() + std::min(out.size(), want.size()), "white %f %f %f", &x, &y, &z), 3) << out;
  EXPECT_NEAR(x, 0.964, 0.01);
  EXPECT_NEAR(y, 1.000, 0.01);
  EXPECT_NEAR(z, 0.825, 0.01);
  (void)p;
}
