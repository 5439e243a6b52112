// A temporary folder of the test's or tool's own, removed with everything in it at the end.
#pragma once

#include <string>

namespace corvane::rig {

class TempDir {
  public:
    // Throws std::runtime_error when no folder can be made.
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string filePath(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace corvane::rig
