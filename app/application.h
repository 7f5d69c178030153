// The tool's application: its handlers, end-of-program routine and unit kinds (the database
// object), installed into a frame for as long as the frame runs.
#pragma once

#include <memory>

namespace tw {

class Frame;
struct App;

class Application {
 public:
  // Binds every handler slot, the end-of-program routine and the database unit kind; done once
  // by the program entry, before Frame::Run.
  explicit Application(Frame& frame);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The application's state, for the program's own tests.
  App& state() { return *app_; }

 private:
  std::unique_ptr<App> app_;
};

}  // namespace tw
