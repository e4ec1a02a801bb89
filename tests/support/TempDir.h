// A fresh temporary directory for one test, removed with everything in it afterwards.
#pragma once

#include <map>
#include <string>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() joined with a relative name.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Writes a file below the directory and returns its full path.
    std::string write(const std::string& name, const std::string& content) const;
    // The whole content of a file, or "" when it cannot be read.
    static std::string read(const std::string& path);
    // An attributes file ("KEY=value" lines) as a map; empty when it cannot be read.
    static std::map<std::string, std::string> readAttributes(const std::string& path);
    // Makes the directory at path and its missing parents (mode 0755).
    static void makeDirectories(const std::string& path);

  private:
    std::string path_;
};
