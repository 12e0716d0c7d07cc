// What a back-end tells the loop about the request it just sent on this
// thread: the tokens its provider counted, and which step of the loop the
// request was for (for the back-ends' messages). Kept per thread, so that a
// run on another thread keeps its own.
#pragma once

#include "generative/workflow.hpp"

#include <string_view>

namespace tarvok::generative {

/// A back-end reports the usage of the request it just sent on this thread.
void report_usage(const workflow::Usage& usage);
/// The usage reported since the last call on this thread (then forgotten).
workflow::Usage take_usage();

/// The loop step of the request this thread is sending ("" outside the loop).
std::string_view request_step();

/// Names the step of the requests this thread sends until this object goes.
class StepOfRequest {
  public:
    explicit StepOfRequest(std::string_view step);
    StepOfRequest(const StepOfRequest&) = delete;
    StepOfRequest& operator=(const StepOfRequest&) = delete;
    ~StepOfRequest();

  private:
    std::string_view previous_;
};

}  // namespace tarvok::generative
