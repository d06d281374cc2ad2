#pragma once
// The main window's design sizes, in pixels: what a first start shows before
// any stored window state replaces them.
namespace velmor::design {

constexpr int kDesignWidth = 1180;
constexpr int kDesignHeight = 820;
constexpr int kDesignTreeWidth = 300;
constexpr int kDesignTreeHeight = 340;

} // namespace velmor::design
