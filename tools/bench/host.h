#pragma once
// The chat server under measurement: the headless host as a separate
// process, or one already running.

#include <cstdint>
#include <memory>
#include <string>

#include "procstat.h"

class Host {
 public:
  virtual ~Host() = default;
  virtual bool Start(std::string& error) = 0;
  virtual uint16_t Port() const = 0;
  // Its CPU time, memory and threads' switches so far; not ok when unknown.
  virtual ProcUsage Sample() = 0;
  virtual void Stop() = 0;
  virtual std::string Describe() const = 0;
};

std::unique_ptr<Host> MakeProcessHost(const std::string& program);
std::unique_ptr<Host> MakeExternalHost(uint16_t port);
