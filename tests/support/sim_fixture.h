#pragma once
// A fixture for tests on the simulated audio system: a fresh default world in a scratch
// directory, COM initialised on the test thread, and the proof that the simulated Core Audio
// server (not the host's) answers in this process before the test body runs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace testing_support {

class SimulatedWorldTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Puts the sound tool (SoundToolToInstall) beside a program in the scratch directory and
  // points the log and the tool runner there, as the program's start-up does.
  void InstallSoundTool();
  // Lines of the program's log that contain the text, without their time stamps.
  std::vector<std::string> LogLinesContaining(const std::string& text) const;

  void SetFaults(const std::string& rules);
  std::vector<std::string> Journal() const;
  // The id of an endpoint of the world by alias ("card-in", "bridge-out", ...).
  std::wstring Id(const wchar_t* alias) const;
  // Every capture endpoint of the world that listens, as "source → target", each by its alias
  // (by its id once a re-plug took the alias away), sorted: what Windows routes.
  std::vector<std::string> ListeningRoutes() const;
  // The routes the program must hold for this choice, sorted: the input into the bridge
  // playback and the bridge capture into the output.
  std::vector<std::string> ChosenRoutes(const wchar_t* input, const wchar_t* output) const;

  TempDir dir;
  EnvScope simDir{L"AUDIOSIM_DIR", dir.path().c_str()};

 private:
  bool comInitialised_ = false;
};

}  // namespace testing_support
