// The link's life: start and stop, the transmit thread sending job commands and swaths, busy
// resends and reconnection, spit requests, and the wait until all swaths are printed.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handover/job_context.h"
#include "handover/swath_record.h"
#include "link/command.h"

constexpr size_t SWATH_BLOCK_SIZE = 64;
constexpr int TX_MAX_RECONNECTS = 10;

bool Link_Start(JobContext* job);
void Link_Stop(LinkState* link);
bool Link_WaitAllPrinted();

// Inside the transmit thread (exposed for tests).
CommandSlot* Tx_NextCommand(LinkState* link);
bool Tx_SendCommand(LinkState* link, CommandSlot* slot);
SwathRecord* Tx_NextSwath(LinkState* link);
bool Tx_SendSwath(LinkState* link, SwathRecord* record);
// Builds the 64-byte swath block of a record (before the spit decision).
void Tx_BuildSwathBlock(const SwathRecord& record, uint8_t block[SWATH_BLOCK_SIZE]);
void Tx_SpitControl(uint8_t* block, uint32_t size);
bool Tx_Transmit(LinkState* link, const uint8_t* block, size_t blockLen, const uint8_t* data,
                 uint32_t dataLen);

// Number of the swath last handed to Tx_Transmit.
uint32_t txSwathNo();
// Swaths sent since the last spit request (kept across jobs); tests may set it.
uint8_t spitCounter();
void setSpitCounterForTest(uint8_t value);
