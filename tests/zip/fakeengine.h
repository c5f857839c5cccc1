#pragma once
// What the stand-in engine library saw of its last call (tests of the record layouts only).
#include <string>
#include <vector>

struct FakeCapture {
  int calls = 0;
  std::vector<unsigned char> record;                   // the whole record, byte for byte
  std::vector<std::vector<unsigned char>> specRecords;  // compact layout: each spec record's bytes
  std::vector<std::string> specs;                      // the spec texts
  std::string password, archive, tempDir;
  std::vector<unsigned char> passwordBuffer;           // all 81 bytes
};
