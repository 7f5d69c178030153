// Shared pieces of the native benchmark program: the tool on the headless window layer against a
// simulator, and the simulator's statement log read as requests. The headless layer runs the
// tool's pauses and progress steps on its virtual clock, so the wall time of a click is the
// tool's own work; the virtual time that passed shows the pauses that were prescribed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "tests/support/simulator_process.h"
#include "ui/frame.h"

namespace tw::bench {

// One request as the simulator logged it.
struct Request {
  std::string kind;  // "login", "batch" or "rpc"
  std::string rpc;   // procedure name of an RPC
  std::string text;  // statement text
};

// The requests logged since line `from`; `from` moves to the end.
std::vector<Request> RequestsSince(const test::SimulatorProcess& sim, std::size_t* from);
// "logins 3, batches 0, rpc 8040 (sp_cursoropen 1007, sp_cursorfetch 5021, ...)"
std::string Describe(const std::vector<Request>& requests);

// The folder the tool takes as its program folder; its settings file is removed before each run.
const std::string& ProgramFolder();
void RemoveSettings();
// Writes the settings file (GBK, CRLF) from UTF-8 "key=value" lines under one section.
void WriteSettings(const std::string& sectionUtf8, const std::vector<std::string>& linesUtf8);

// Runs the tool until `body`, started once the program waits for input, has returned.
void RunTool(const std::function<void(HeadlessBackend&, Frame&)>& body);

// Types the login and clicks 按钮_连接; returns the wall milliseconds of the click.
double Connect(HeadlessBackend& backend, const std::string& server);

// The sub-commands of the program.
int CleanupBench(const std::vector<std::string>& args);

}  // namespace tw::bench
