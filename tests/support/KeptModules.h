// Virtual modules that a test makes as it goes, kept until the servers and
// responders that use them from their own threads have stopped: a module made as
// a local of the test body would go before the fixture's servers do.
#pragma once

#include <memory>
#include <vector>

#include "VirtualModule.h"

class KeptModules {
  public:
    Veltrano::Sim::VirtualModule& make(const Veltrano::Sim::ModuleIdentity& id) {
        modules_.push_back(std::make_unique<Veltrano::Sim::VirtualModule>(id));
        return *modules_.back();
    }
    // Last made first, as locals would go. Call once nothing serves them any more.
    void clear() {
        while (!modules_.empty())
            modules_.pop_back();
    }
    ~KeptModules() { clear(); }

  private:
    std::vector<std::unique_ptr<Veltrano::Sim::VirtualModule>> modules_;
};
