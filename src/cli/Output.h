#pragma once
// The one place that prints what a command found and how a job ended: as text (results on
// stdout, problems on stderr), or as JSON documents on stdout.
#include <nlohmann/json.hpp>
#include <string>

#include "model/Outcome.h"

using Json = nlohmann::ordered_json;

// Exit codes shared by every sub-command.
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitWrongPassword = 3 };

class Output {
  public:
    explicit Output(bool json) : json_(json) {}
    bool AsJson() const { return json_; }
    void Print(const ::Json& document) const;
    // Prints what a job left out and returns the exit code its outcome deserves.
    int Conclude(const v::Outcome& outcome, const std::string& what) const;

  private:
    bool json_;
};

// `text` for a terminal: control characters (an escape sequence, a newline, C1 controls) are
// written as \xNN or \u00NN, so a name from an archive or a folder can neither drive the
// terminal nor pass for another line.
std::string ForTerminal(const std::string& text);

// Prints an error on stderr and returns `code`.
int Error(const std::string& message, int code = kExitFailed);
