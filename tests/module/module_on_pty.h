#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "module_config.h"
#include "module_log.h"
#include "module_pty.h"

namespace tarnix {

// The emulator served on its own thread, with the test playing the program on the slave side.
class ModuleOnPty : public ::testing::Test {
protected:
    void StartModule(const ModuleConfig& config);
    void Send(const std::vector<uint8_t>& bytes);
    // Reads exactly count bytes; fewer only when none arrive for a few seconds.
    std::vector<uint8_t> Receive(size_t count);
    // Closes the program's side, waits for the module to finish and returns its record.
    const ModuleLog& StopModule();
    void TearDown() override;

    ModuleConfig config_;
    ModulePty pty_;
    ModuleLog log_;
    int programFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::thread module_;
};

std::vector<uint8_t> Bytes(const std::string& text);
std::vector<uint8_t> Concat(std::vector<uint8_t> first, const std::vector<uint8_t>& second);

}  // namespace tarnix
