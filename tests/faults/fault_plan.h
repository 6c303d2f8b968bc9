#pragma once
// What the fault harness and the sweep that drives it agree on: the
// environment that tells the harness what to do, the calls it counts and the
// faults it can give a call. Windows code of the test suite.

// The harness writes its report (one line per counted call, fault, box and
// allocation of the install phase) to this file, made anew.
#define QTR_FAULT_REPORT L"QTR_FAULT_REPORT"
// "K FAULT": the K-th counted call (from 1) meets FAULT instead of running.
#define QTR_FAULT_CALL L"QTR_FAULT_CALL"
// "J": the J-th allocation of the install phase (from 1) fails.
#define QTR_FAULT_ALLOC L"QTR_FAULT_ALLOC"
// "real": message boxes are shown and answered by whoever watches the
// windows (the UI driver); otherwise the harness answers them itself.
#define QTR_FAULT_BOXES L"QTR_FAULT_BOXES"

// The exit code of a run stopped by a power cut.
constexpr unsigned kPowerCutExit = 0xC0DE;

// A fault as a call on a real machine meets it.
enum class Fault {
  kNone,
  kDiskFull,          // ERROR_DISK_FULL
  kAccessDenied,      // ERROR_ACCESS_DENIED
  kSharingViolation,  // ERROR_SHARING_VIOLATION, for reads and writes ERROR_LOCK_VIOLATION
  kIoError,           // ERROR_IO_DEVICE: a failing device or a network drive that went away
  kShort,             // a read or write that moves half of the bytes asked for (at least one)
  kPowerCut,          // the process stops right before the call: nothing after it happens
};

constexpr const char* kFaultNames[] = {"none",     "disk_full", "access_denied", "sharing_violation",
                                       "io_error", "short",     "power_cut"};

inline const char* FaultName(Fault fault) { return kFaultNames[static_cast<int>(fault)]; }
