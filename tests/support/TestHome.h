#pragma once
// A throwaway home: HOME points at a fresh folder and the XDG variables are cleared, which
// isolates the registry, the shell folders and the mail store completely.
#include <string>

class TestHome {
  public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }
    // Points HOME at another throwaway folder (a second user, for round trips).
    void SwitchTo(const std::string& path);

  private:
    std::string path_;
    std::string original_;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
// Gives a file the oldest modification time: older than any archived copy, so a restore
// replaces it without a word.
void MakeOld(const std::string& path);
// What a shell command prints on its standard output.
std::string Capture(const std::string& command);
