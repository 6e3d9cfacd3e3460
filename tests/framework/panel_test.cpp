#include "framework/panel.h"

#include <gtest/gtest.h>

#include "framework/gui_layer.h"

namespace {

struct Event {
  GuiEvent event;
  int id;
  bool duringFrame;
};

// A device-panel-like panel at (600, 10), driven without a GL device.
class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    panel.Init(&gui);
    panel.SetCallback([this](GuiEvent event, int id) { events.push_back({event, id, gui.InFrame()}); });
    panel.SetLocation(600, 10);
    panel.SetSize(170, 170);
    panel.AddButton(1, L"Toggle full screen", 35, 10, 125, 22);
    panel.AddButton(3, L"Change device (F2)", 35, 34, 125, 22, FunctionKey(2));
    panel.AddCheckBox(23, L"Enable Gravity (G)", 35, 58, 125, 22, true, 'G');
    panel.AddSlider(45, 35, 82, 125, 22, 0, 16, 8);
  }

  void Frame(bool drawPanel = true) {
    gui.BeginFrame(800, 600, 1.0f / 60.0f, true);
    if (drawPanel) panel.Render(0);
    gui.EndFrame();
    gui.DispatchDeferred();
  }

  static InputMessage Mouse(InputType type, int x, int y) {
    InputMessage m;
    m.type = type;
    m.x = x;
    m.y = y;
    return m;
  }

  static InputMessage KeyDown(int32_t key) {
    InputMessage m;
    m.type = InputType::KeyDown;
    m.key = key;
    return m;
  }

  GuiLayer gui;
  Panel panel;
  std::vector<Event> events;
};

}  // namespace

TEST_F(PanelTest, HotKeysActOnlyWhileThePanelIsShown) {
  // not drawn yet: the hot key goes on to the application
  EXPECT_FALSE(panel.HandleMessage(KeyDown(FunctionKey(2))));
  Frame();
  EXPECT_TRUE(panel.HandleMessage(KeyDown(FunctionKey(2))));
  EXPECT_TRUE(panel.HandleMessage(KeyDown('G')));
  EXPECT_FALSE(panel.HandleMessage(KeyDown('W')));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].event, GuiEvent::ButtonClicked);
  EXPECT_EQ(events[0].id, 3);
  EXPECT_EQ(events[1].event, GuiEvent::CheckBoxChanged);
  EXPECT_FALSE(panel.GetChecked(23));  // the hot key clicked the box
  // a frame without the panel (hidden panels) turns the hot keys off
  Frame(false);
  EXPECT_FALSE(panel.HandleMessage(KeyDown('G')));
  EXPECT_FALSE(panel.GetChecked(23));
  // disabled controls ignore their hot key
  Frame();
  panel.SetEnabled(23, false);
  EXPECT_FALSE(panel.HandleMessage(KeyDown('G')));
  EXPECT_FALSE(panel.Click(23));
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(PanelTest, ProgrammaticStateRaisesNoEventButUserActionsDo) {
  panel.SetChecked(23, false);
  panel.SetValue(45, 99);
  EXPECT_EQ(panel.GetValue(45), 16);  // clamped to the range
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(panel.Click(23));
  EXPECT_TRUE(panel.GetChecked(23));
  EXPECT_TRUE(panel.SetValueAsUser(45, 3));
  EXPECT_TRUE(panel.SetValueAsUser(45, 3));  // no change, no event
  EXPECT_TRUE(panel.SetValueAsUser(45, -7));
  EXPECT_EQ(panel.GetValue(45), 0);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].event, GuiEvent::SliderValueChanged);
  EXPECT_EQ(events[2].id, 45);
  EXPECT_FALSE(panel.Click(77));
  EXPECT_FALSE(panel.Click(45));  // a slider cannot be clicked
  EXPECT_FALSE(panel.AddButton(1, L"duplicate", 0, 0, 1, 1));
  EXPECT_EQ(panel.FindControlByLabel(L"Change device (F2)")->id, 3);
  EXPECT_EQ(panel.FindControlByLabel(L"Change device"), nullptr);
}

TEST_F(PanelTest, MouseOverThePanelStaysWithIt) {
  Frame();
  EXPECT_TRUE(panel.HandleMessage(Mouse(InputType::MouseMove, 610, 20)));
  EXPECT_FALSE(panel.HandleMessage(Mouse(InputType::MouseMove, 599, 20)));
  EXPECT_FALSE(panel.HandleMessage(Mouse(InputType::ButtonDown, 100, 100)));
  // a drag that starts outside is not taken when it crosses the panel...
  EXPECT_FALSE(panel.HandleMessage(Mouse(InputType::MouseMove, 650, 50)));
  EXPECT_FALSE(panel.HandleMessage(Mouse(InputType::ButtonUp, 650, 50)));
  // ...but one that starts on it keeps its moves and release wherever they go
  EXPECT_TRUE(panel.HandleMessage(Mouse(InputType::ButtonDown, 700, 100)));
  EXPECT_TRUE(panel.HandleMessage(Mouse(InputType::MouseMove, 10, 500)));
  EXPECT_TRUE(panel.HandleMessage(Mouse(InputType::ButtonUp, 10, 500)));
  EXPECT_FALSE(panel.HandleMessage(Mouse(InputType::MouseMove, 10, 500)));
}

TEST_F(PanelTest, MouseClickOnAButtonReportsAfterTheFrame) {
  Frame();
  gui.FeedMessage(Mouse(InputType::MouseMove, 697, 31));
  Frame();
  // press and release between two frames still count as a click
  gui.FeedMessage(Mouse(InputType::ButtonDown, 697, 31));
  gui.FeedMessage(Mouse(InputType::ButtonUp, 697, 31));
  Frame();
  Frame();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 1);
  EXPECT_EQ(events[0].event, GuiEvent::ButtonClicked);
  // handlers run after the frame, when they may open dialogs of their own
  EXPECT_FALSE(events[0].duringFrame);
  EXPECT_TRUE(gui.Consumes(Mouse(InputType::MouseMove, 697, 31)));
  gui.FeedMessage(Mouse(InputType::MouseMove, 100, 300));
  Frame();
  EXPECT_FALSE(gui.Consumes(Mouse(InputType::MouseMove, 100, 300)));
}

TEST_F(PanelTest, MinimisedCaptionedPanelKeepsOnlyItsCaptionBar) {
  Panel captioned;
  captioned.Init(&gui);
  captioned.SetCaptionText(L"Main Controls");
  captioned.EnableCaption(true);
  captioned.SetBackgroundColors(0x8000FF00u);
  captioned.SetLocation(10, 300);
  captioned.SetSize(195, 215);
  captioned.SetMinimized(true);
  gui.BeginFrame(800, 600, 1.0f / 60.0f, true);
  captioned.Render(0);
  gui.EndFrame();
  EXPECT_TRUE(captioned.IsMinimized());
  EXPECT_TRUE(captioned.HandleMessage(Mouse(InputType::ButtonDown, 20, 305)));
  EXPECT_TRUE(captioned.HandleMessage(Mouse(InputType::ButtonUp, 20, 305)));
  EXPECT_FALSE(captioned.HandleMessage(Mouse(InputType::ButtonDown, 20, 400)));
  // without a caption a panel cannot be minimised
  panel.SetMinimized(true);
  EXPECT_FALSE(panel.IsMinimized());
}

TEST_F(PanelTest, PanelsLeaveTheLayerWhenDestroyed) {
  {
    Panel other;
    other.Init(&gui);
    EXPECT_EQ(gui.Panels().size(), 2u);
  }
  EXPECT_EQ(gui.Panels().size(), 1u);
}
