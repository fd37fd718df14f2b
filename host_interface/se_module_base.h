// The base of every module object: owns the record the host holds, the host
// callback, the sample rate and block size, the pin table and the current
// process function, and turns host opcodes and events into virtual calls.
#pragma once

#include <cstdint>

#include "host_interface/abi.h"
#include "host_interface/host_callback.h"
#include "host_interface/module_event.h"
#include "host_interface/module_record.h"
#include "host_interface/pin_descriptor.h"
#include "host_interface/se_pin.h"

// Host-to-module opcodes of the dispatcher.
enum ModuleOpcode : int32_t {
    MOD_OPEN = 0,
    MOD_CLOSE = 1,
    MOD_SET_SAMPLE_RATE = 2,
    MOD_SET_BLOCK_SIZE = 3,
    MOD_GET_PIN_PROPERTIES = 6,
    MOD_NOTIFY = 8,
    MOD_MESSAGE = 12,
    MOD_GET_PROCESS_INFO = 13
};

// The current process function as the host sees it: an address followed by
// three zero words (16 bytes on the 32-bit target).
struct ProcessFunction {
    ProcessEntry function;
    int32_t zero[3];
};

// Answer to MOD_GET_PROCESS_INFO; one block for the whole process.
struct ProcessInfo {
    int32_t one;
    int32_t memberSize;
    ProcessFunction* member;
    int32_t zero;
};

#if QV_TARGET_LAYOUT
static_assert(sizeof(ProcessFunction) == 16, "ProcessFunction layout");
static_assert(sizeof(ProcessInfo) == 16, "ProcessInfo layout");
#endif

class SEModule_base {
public:
    SEModule_base(HostCallback callback, intptr_t hostValue);

    // Virtual operations, in the host interface's slot order.
    virtual ~SEModule_base();                                           // 0
    virtual void onPinStatusChange(SEPin* pin);                          // 1
    virtual void handleEvent(EventRecord* event);                        // 2
    virtual DispatcherResult dispatcher(int32_t opcode, int32_t index, int32_t value,
                                        void* pointer, float option);  // 3
    virtual void open();                                                 // 4
    virtual void close();                                                // 5
    virtual void hook6(int32_t first, int32_t second);                   // 6
    virtual void setSampleRate(float rate);                              // 7
    virtual void setBlockSize(int32_t size);                             // 8
    virtual float getSampleRate();                                       // 9
    virtual int32_t getBlockSize();                                      // 10
    virtual bool getPinProperties(int32_t index, PinDescriptor* descriptor);  // 11
    virtual bool hook12(int32_t argument);                               // 12
    virtual bool hook13(int32_t argument);                               // 13
    virtual void onHostNotify();                                         // 14
    virtual void onHostNotifyCount(int32_t count);                       // 15
    virtual void onDataEvent(int32_t first, int32_t second, uint16_t third);  // 16
    virtual void onHostMessage(int32_t value, int32_t index, void* pointer);  // 17

    ModuleRecord* record() { return &record_; }
    PinTable* pinTable() { return pinTable_; }
    const ProcessFunction& currentProcess() const { return currentProcess_; }

    // Every request to the host goes through here (see callHost).
    HostResult requestHost(int32_t opcode, int32_t index = 0, int32_t value = 0,
                           void* pointer = nullptr);

    // The process function that does nothing: current until a module installs its own.
    static void QV_HOST_ENTRY doNothingProcess(SEModule_base* object, int32_t bufferOffset,
                                               int32_t sampleCount);

protected:
    // Builds the pin table from the module's descriptions and the host's pin
    // count, releasing an earlier table. False only when the table could not
    // be allocated (the module then has no table).
    bool buildPinTable();
    void releasePinTable();

    // Makes `function` current, in the member and in the record, and tells
    // the host when it really changed.
    void installProcess(ProcessEntry function);

private:
    HostCallback callback_;
    ModuleRecord record_;
    float sampleRate_;
    int32_t blockSize_;
    PinTable* pinTable_;
    ProcessFunction currentProcess_;
};
