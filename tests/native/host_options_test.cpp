// The stand-in host's command line: every option in both spellings, and a one-line
// message for each mistake.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/host/host_options.h"

using namespace tarnevox::host;

namespace {

bool parse(const std::vector<std::string>& args, HostOptions* options, std::string* error) {
  error->clear();
  return parseHostOptions(args, options, error);
}

TEST(HostOptions, DefaultsRunModuleZeroOnTheSweepUntilStopped) {
  HostOptions options;
  std::string error;
  ASSERT_TRUE(parse({"vis.dll"}, &options, &error)) << error;
  EXPECT_EQ(options.pluginPath, "vis.dll");
  EXPECT_FALSE(options.list);
  EXPECT_EQ(options.module, 0);
  EXPECT_EQ(options.signal, SignalKind::kSineSweep);
  EXPECT_EQ(options.foreground, kDefaultForeground);
  EXPECT_EQ(options.background, kDefaultBackground);
  EXPECT_FALSE(options.foreground == options.background);
  EXPECT_EQ(options.seconds, 0.0);
  EXPECT_EQ(options.renderLimit, 0);
  EXPECT_EQ(options.frameWidth, 1024);
  EXPECT_EQ(options.resizeWidth, 0);
}

TEST(HostOptions, EveryOptionWithItsValueApartOrAfterAnEqualsSign) {
  for (bool joined : {false, true}) {
    std::vector<std::string> args;
    auto add = [&](const std::string& name, const std::string& value) {
      if (joined) {
        args.push_back(name + "=" + value);
      } else {
        args.push_back(name);
        args.push_back(value);
      }
    };
    add("--module", "1");
    add("--signal", "beat");
    add("--fg", "#00ff7F");
    add("--bg", "0A0b0C");
    add("--skin", "skin.bmp");
    add("--seconds", "2.5");
    add("--renders", "40");
    add("--size", "640x480");
    add("--resize", "275x116@1.5");
    add("--full-screen", "2");
    args.push_back("C:\\plug ins\\vis.dll");
    args.push_back("--list");

    HostOptions options;
    std::string error;
    ASSERT_TRUE(parse(args, &options, &error)) << error;
    EXPECT_EQ(options.module, 1);
    EXPECT_EQ(options.signal, SignalKind::kBeat);
    EXPECT_EQ(options.foreground, (RgbColor{0x00, 0xFF, 0x7F}));
    EXPECT_EQ(options.background, (RgbColor{0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(options.skinPath, "skin.bmp");
    EXPECT_DOUBLE_EQ(options.seconds, 2.5);
    EXPECT_EQ(options.renderLimit, 40);
    EXPECT_EQ(options.frameWidth, 640);
    EXPECT_EQ(options.frameHeight, 480);
    EXPECT_EQ(options.resizeWidth, 275);
    EXPECT_EQ(options.resizeHeight, 116);
    EXPECT_DOUBLE_EQ(options.resizeAfterSeconds, 1.5);
    EXPECT_DOUBLE_EQ(options.fullScreenAfterSeconds, 2.0);
    EXPECT_EQ(options.pluginPath, "C:\\plug ins\\vis.dll");
    EXPECT_TRUE(options.list);
  }
}

TEST(HostOptions, HelpNeedsNoPlugin) {
  HostOptions options;
  std::string error;
  ASSERT_TRUE(parse({"-h"}, &options, &error));
  EXPECT_TRUE(options.help);
  ASSERT_TRUE(parse({"--help"}, &options, &error));
  EXPECT_TRUE(options.help);
  EXPECT_NE(std::string(hostUsage()).find("--signal"), std::string::npos);
}

TEST(HostOptions, MistakesAreRefusedWithOneLineNamingTheProblem) {
  const struct {
    std::vector<std::string> args;
    const char* mentions;
  } cases[] = {
      {{}, "no plug-in"},
      {{"a.dll", "b.dll"}, "more than one"},
      {{"--frobnicate", "a.dll"}, "--frobnicate"},
      {{"a.dll", "--module"}, "needs a value"},
      {{"--module", "-1", "a.dll"}, "--module"},
      {{"--module", "one", "a.dll"}, "--module"},
      {{"--module", "1x", "a.dll"}, "--module"},
      {{"--signal", "pink", "a.dll"}, "--signal"},
      {{"--fg", "12345", "a.dll"}, "--fg"},
      {{"--bg", "GG0000", "a.dll"}, "--bg"},
      {{"--seconds", "0", "a.dll"}, "--seconds"},
      {{"--seconds", "abc", "a.dll"}, "--seconds"},
      {{"--seconds", "inf", "a.dll"}, "--seconds"},
      {{"--renders", "0", "a.dll"}, "--renders"},
      {{"--size", "640", "a.dll"}, "--size"},
      {{"--size", "8x8", "a.dll"}, "--size"},
      {{"--resize", "640x480", "a.dll"}, "--resize"},
      {{"--resize", "640x480@", "a.dll"}, "--resize"},
      {{"--resize", "8x480@1", "a.dll"}, "--resize"},
      {{"--full-screen", "-1", "a.dll"}, "--full-screen"},
      {{"--wav", "", "a.dll"}, "--wav"},
      {{"--list=yes", "a.dll"}, "takes no value"},
      {{"--signal", "noise", "--wav", "x.wav", "a.dll"}, "exclude"},
      {{"--list", "--configure", "a.dll"}, "exclude"},
  };
  for (const auto& c : cases) {
    HostOptions options;
    std::string error;
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_FALSE(parse(c.args, &options, &error)) << joined;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << joined << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
