// The engine tests' start: a controller over an in-memory folder whose
// template (100 bytes of 0x47) is loaded, a view that records what it is
// shown, and the user's choice of a base file by its path. GoogleTest's
// fixture: only the tests include this one.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "dialog_choice.h"
#include "fake_repair_files.h"
#include "recording_view.h"
#include "repair_controller.h"

class ControllerTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kTemplateSize = 100;

    void SetUp() override {
        files.Add(kTemplateFileName, kTemplateSize, 0x47);
        ASSERT_TRUE(controller.OnStartup());
    }

    void Choose(const std::string& path) { ChooseBaseFile(controller, path); }

    FakeRepairFiles files;
    RecordingView view;
    RepairController controller{view, files};
};
