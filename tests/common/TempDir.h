// A temporary folder removed with everything in it when the object goes away.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <string>

namespace dorvex::testkit {

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/dorvex-test-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            m_Path = pattern;
        }
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
