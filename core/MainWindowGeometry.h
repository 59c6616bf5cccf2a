// The main window's designed outer geometry in twips, shared by start-up, the display presets and
// both front ends' layouts.
#pragma once

namespace varnel {

constexpr int DesignWindowWidth = 3840;  // outer width of every preset
// Outer heights by DisplaySize: five slot rows, buttons only, all ten rows.
constexpr int PresetHeight[3] = {3375, 885, 5775};
constexpr int DesignWindowHeight = PresetHeight[0];  // the window opens with five rows
// The outer top-left corner where the layout puts the window on the reference screen.
constexpr int DesignWindowLeft = 7905;
constexpr int DesignWindowTop = 5235;

}  // namespace varnel
