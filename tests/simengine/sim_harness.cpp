#include "simengine/sim_harness.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/files.h"

namespace {
SimEngine* current = nullptr;  // notify has no context word of its own
unsigned char outBuffer[64];
}  // namespace

SimEngine::SimEngine(const std::string& name, const std::string& ini, const std::string& dll) {
    folder = FreshFolder("sim-" + name);
    CopyFileTo(BuildPath("simengine/" + dll), folder + dll);
    if (!ini.empty()) WriteFileText(folder + "simengine.ini", ini);
    module = LoadLibraryA((folder + dll).c_str());
    if (!module) return;
    BindEngineApi(api, [this](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); });
    current = this;
}

SimEngine::~SimEngine() {
    if (opened) api.unInitialize(cls.first, cls.second);
    if (module) FreeLibrary(module);
    current = nullptr;
}

void SimEngine::open() {
    ASSERT_NE(module, nullptr);
    ASSERT_EQ(api.initialize(folder.c_str(), &cls), 0);
    opened = true;
    EngineEntry engine{};
    std::strcpy(engine.text, "SimEngine");
    ASSERT_EQ(api.open(cls.first, cls.second, &engine, &inst, 0), 0);
    OutDeviceRecord device{0, &SimEngine::notify};
    ASSERT_EQ(api.setOutDevice(inst.first, inst.second, &device), 0);
}

int32_t SimEngine::say(const std::string& text) {
    TextRecord record{0, uint32_t(text.size()), text.c_str()};
    int32_t r = api.setText(inst.first, inst.second, &record);
    return r ? r : api.speak(inst.first, inst.second, 0);
}

int32_t SimEngine::status() {
    int32_t s = -1;
    api.getInstStatus(inst.first, inst.second, &s);
    return s;
}

std::vector<std::string> SimEngine::journal() const {
    return ReadLines(folder + "simengine.journal");
}

std::vector<Notice> SimEngine::notices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
}

std::vector<uint32_t> SimEngine::codes() {
    std::vector<uint32_t> codes;
    for (const Notice& n : notices()) codes.push_back(n.code);
    return codes;
}

bool SimEngine::waitFor(size_t count, DWORD ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return notices_.size() >= count; });
}

int32_t ENGINE_CALL SimEngine::notify(uint32_t first, uint32_t second, FILE* stream,
                                      const EngineMessage* message) {
    SimEngine& self = *current;
    EXPECT_EQ(first, self.inst.first);
    EXPECT_EQ(second, self.inst.second);
    Notice n{message->code, GetCurrentThreadId(), -1, false};
    auto* info = static_cast<OutBufferInfo*>(message->data);
    if (n.code == kMsgOutBufRequest && info) {
        std::memset(outBuffer, 0xAA, sizeof outBuffer);
        info->size = sizeof outBuffer;
        info->buffer = outBuffer;
    }
    if (n.code == kMsgOutBufDone && info && stream)
        n.bufferFilled = info->buffer == outBuffer && outBuffer[0] == 0 &&
                         outBuffer[sizeof outBuffer - 1] == 0;
    if (self.probeStatus) self.api.getInstStatus(self.inst.first, self.inst.second, &n.status);
    {
        std::lock_guard<std::mutex> lock(self.mutex_);
        self.notices_.push_back(n);
    }
    self.arrived_.notify_all();
    if (self.onNotify) self.onNotify(n.code);
    return 0;
}
