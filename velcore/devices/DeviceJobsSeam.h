#pragma once

// A seam for tests: every row document of a DeviceJobs passes through a preparation before its
// device is reached (tests shorten the link's waits there). Not part of the shipped interface.
#include <functional>
#include <memory>
#include <utility>

#include "devices/DeviceJobs.h"

namespace vel {

class CVelUpdateDoc;

struct DocumentPreparation {
  std::function<void(CVelUpdateDoc&)> prepare;
};

struct DeviceJobsSeam {
  // Applies to the jobs started from now on.
  static void PrepareDocuments(DeviceJobs& jobs, std::function<void(CVelUpdateDoc&)> prepare) {
    jobs.preparation_ =
        std::make_shared<const DocumentPreparation>(DocumentPreparation{std::move(prepare)});
  }
};

}  // namespace vel
