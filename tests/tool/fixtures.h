// Sequence files, folder snapshots and text helpers of the tool tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What writeSequence puts in the headers.
constexpr char kPortName[] = "/TEST/PORT";
constexpr int kPortId = 42;
constexpr uint32_t kFirstFrameNumber = 101;
constexpr uint32_t kFirstEventNumber = 5001;
constexpr uint32_t kFirstSecond = 1700000000;  // 2023-11-14 22:13:20 UTC

// Saves a sequence through the library (the name's extension selects the
// format): GRAY frames of 1 byte per pixel full of noise that does not
// compress; frame i (from 0) is number kFirstFrameNumber + i, event
// kFirstEventNumber + i, stamped kFirstSecond + i seconds. Frame i's pixels
// do not depend on the number of frames.
bool writeSequence(const std::string& path, int frames, int width = 64, int height = 48);

// Frames the library loads from the file; -1 when it cannot load it.
int framesIn(const std::string& path);

// Every entry below a folder, hidden ones too: relative name -> kind and
// content ("file:" + bytes, "dir", "link:" + target, "other"); without
// content a file is just "file".
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::string& dir, bool withContent = true);
// Readable list of what was added, removed or changed; empty when nothing.
std::string changes(const Snapshot& before, const Snapshot& after);
// Names directly in a folder.
std::vector<std::string> entries(const std::string& dir);
// Waits up to the time for an entry whose name starts with '.' in the folder.
bool waitForHiddenEntry(const std::string& dir, double seconds);
// Whether the process still runs (it is neither gone nor a zombie).
bool running(int pid);

bool contains(const std::string& text, const std::string& part);
// The arguments separated by spaces, for failure messages.
std::string joined(const std::vector<std::string>& args);
std::string lower(std::string text);
int lineCount(const std::string& text);
std::string firstLine(const std::string& text);
// The first line that starts with the prefix, empty when there is none.
std::string lineStartingWith(const std::string& text, const std::string& prefix);

#include <gtest/gtest.h>

#include "run_tool.h"
#include "support/tempdir.h"

// Every tool test works in a fresh folder.
class Tool : public testing::Test {
 protected:
  // Grabs frames from the simulated camera at 20 ms per frame.
  void grab(const std::string& file, int frames = 3, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"grab",   "-n", std::to_string(frames), "-o", file,
                                     "--rate", "20"};
    args.insert(args.end(), extra.begin(), extra.end());
    Result r = runTool(args);
    ASSERT_EQ(r.exitCode, 0) << r.describe();
  }
  // A sequence written through the library into the folder; its path.
  std::string sequence(const std::string& name, int frames = 3, int width = 64, int height = 48) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(writeSequence(path, frames, width, height)) << path;
    return path;
  }
  TempDir dir;
};
