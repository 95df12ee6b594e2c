#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "update_file_builder.h"

namespace tarnix {

// A fixture with a fresh temporary folder for each test, removed afterwards. A fixture that
// skips before it needs the folder skips in its own SetUp and then calls this one; dir_ stays
// empty then.
class TempDirTest : public testing::Test {
protected:
    void SetUp() override { dir_ = MakeTempDir(); }
    void TearDown() override {
        if (!dir_.empty()) {
            std::system(("rm -rf '" + dir_ + "'").c_str());
        }
    }

    // Writes `content` to `name` in the folder and returns its path.
    std::string Write(const std::string& name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        EXPECT_TRUE(WriteFileBytes(path, content));
        return path;
    }

    std::string dir_;
};

}  // namespace tarnix
