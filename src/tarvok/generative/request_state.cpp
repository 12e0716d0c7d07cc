#include "generative/request_state.hpp"

#include <utility>

namespace tarvok::generative {

namespace {
thread_local workflow::Usage reported_usage;
thread_local std::string_view current_step;
}  // namespace

void report_usage(const workflow::Usage& usage) { reported_usage = usage; }

workflow::Usage take_usage() { return std::exchange(reported_usage, workflow::Usage{}); }

std::string_view request_step() { return current_step; }

StepOfRequest::StepOfRequest(std::string_view step) : previous_(std::exchange(current_step, step)) {}
StepOfRequest::~StepOfRequest() { current_step = previous_; }

}  // namespace tarvok::generative
