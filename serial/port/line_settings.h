#pragma once
// What the port hands to the driver, taken from its settings when they are
// applied: the line state, the time-outs and the input queue size. The device
// keeps these copies, so a setting changed during a settings update reaches
// the line only when it is applied.

#include <cstdint>

#include "serial/CPort.h"

// OutDSRFlow, DSRSensitivity and TxContinueOnXoff have no Linux counterpart
// and do not reach the line.
struct LineState {
  TBaudRate baudRate = br9600;
  int32_t customBaudRate = 9600;
  TDataBits dataBits = dbEight;
  TStopBits stopBits = sbOneStopBit;
  TParityBits parity = prNone;
  bool parityCheck = false;
  bool parityReplace = false;
  uint8_t parityReplaceChar = 0;
  bool outCTSFlow = false;
  TDTRFlowControl controlDTR = dtrDisable;
  TRTSFlowControl controlRTS = rtsDisable;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
  uint8_t xonChar = 0x11;
  uint8_t xoffChar = 0x13;
  bool discardNull = false;
  uint8_t eventChar = 0;
};

struct LineTimeouts {
  int32_t readInterval = -1;
  int32_t readTotalMultiplier = 0;
  int32_t readTotalConstant = 0;
  int32_t writeTotalMultiplier = 100;
  int32_t writeTotalConstant = 1000;
};
