// SPDX-License-Identifier: Apache-2.0
// The job's side of the desktop console's progress window.
#include "wxapp/progress_source.h"

#include "handover/job_context.h"
#include "job/print_job.h"

namespace {
int swathNumber() { return jobContext()->swathNumber; }
void requestCancel() { Job_RequestCancel(); }
const WxProgressSource SOURCE{swathNumber, requestCancel};
}  // namespace

const WxProgressSource* Desktop_ProgressSource() { return &SOURCE; }
