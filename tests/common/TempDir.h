// A temporary folder removed with everything in it when the object goes away.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace dorvex::testkit {

class TempDir {
  public:
    // In /tmp, or in `base`.
    explicit TempDir(const std::string& base = "/tmp") {
        std::string pattern = base + "/dorvex-test-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            m_Path = pattern;
        }
    }
    // For tests that rewrite the same small files thousands of times: memory where the system
    // has a folder of it. ext4 starts writing a file out when it is emptied or renamed over,
    // and the next removal then waits for the disk (2 ms each here).
    static std::string MemoryBase() {
        return access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
    }
    ~TempDir() {
        if (!m_Path.empty()) {
            std::system(("rm -rf '" + m_Path + "'").c_str());
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_Path; }
    // The folder with a trailing slash, followed by name.
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

  private:
    std::string m_Path;
};

}  // namespace dorvex::testkit
