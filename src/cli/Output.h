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

// Prints an error on stderr and returns `code`.
int Error(const std::string& message, int code = kExitFailed);
