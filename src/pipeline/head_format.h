// SPDX-License-Identifier: Apache-2.0
// Conversion of a drawn swath into the heads' nozzle format: channel offsets across the head,
// mirroring and bidirectional correction for right-to-left swaths.
#pragma once
#include <cstdint>

#include "handover/job_context.h"
#include "platform/owned_state.h"

// The formatter's state of one session (job thread): writes that would land outside the
// format buffer are dropped and counted, and each channel is traced once per swath.
struct FormatState {
    uint64_t droppedTotal = 0;
    uint16_t tracedJob = 0;
    uint32_t tracedSwath = UINT32_MAX;
    uint8_t tracedChannels = 0;
};

// Extra format columns on each side of the image for the distance between nozzle rows.
uint32_t headMarginColumns(const JobContext* ctx);
// Column offset (even) of a channel's data in the format buffer for the current direction.
int channelRowOffset(const JobContext* ctx, int channel);
// Formats the channel-pair image of `pair` (0..3, channels from the ink-box order) for each
// enabled head in the direction of swathDirection.
void formatChannelPair(JobContext* ctx, int pair);
// Formats the single-channel image in srcBuffer for `channel` (0..7); secondHeadPass selects
// the second head.
void formatChannel(JobContext* ctx, int channel);
// True when the 8 bytes are 0..7 and pairwise different.
bool isValidInkOrder(const uint8_t* inkOrder8);
