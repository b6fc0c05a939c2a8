#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "platform/Panel.h"
#include "platform/Screens.h"

class QSocketNotifier;

struct wl_buffer;
struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_registry;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace sayloft {

class PanelPainter;

// The status panel on a Wayland compositor with zwlr_layer_shell_v1 (sway, KWin, Hyprland): a
// surface in the overlay layer, above every window and on whatever workspace is shown, with no
// keyboard interactivity (the focused application keeps the keyboard) and an empty input region
// (clicks go to what lies beneath). It looks like QtPanel (PanelPainter), drawn with QPainter
// into shared memory at the scale of the output it is on.
//
// Placement: a layer surface cannot be put at a position; the compositor chooses the output (the
// focused one: none is named) and the panel is anchored to the bottom edge, centred, with
// exclusive zone 0, so it lies inside the output's usable area (not over bars that reserve
// space). setOrigin turns the origin the caller computed into a bottom margin: the distance
// from the panel's bottom edge to the bottom of the visible frame of the screen (of `screens`)
// holding the origin, so the panel keeps the gap the caller meant; the horizontal position is
// always the centre.
//
// It speaks Wayland on a connection of its own, whatever Qt's platform (xcb through Xwayland,
// wayland, offscreen), and reads it on the main thread from Qt's event loop; a QGuiApplication
// must exist (fonts). When the compositor offers no layer shell, or the connection fails, the
// panel keeps its text and size and shows nothing (it says so once on stderr). Created hidden;
// main thread only.
class LayerShellPanel final : public Panel {
public:
    // displayName nullptr: $WAYLAND_DISPLAY.
    explicit LayerShellPanel(const Screens& screens, const char* displayName = nullptr);
    ~LayerShellPanel() override;
    LayerShellPanel(const LayerShellPanel&) = delete;
    LayerShellPanel& operator=(const LayerShellPanel&) = delete;

    // Whether the compositor offers the layer shell and the connection works.
    bool isAvailable() const { return display_ != nullptr && layerShell_ != nullptr; }

    void setText(std::string_view utf8) override;
    Size size() const override;
    void setOrigin(Point origin) override;
    void orderFront() override;
    void orderOut() override;

    // For tests: the gap below the panel in logical pixels, the scale of the buffers drawn, and
    // whether the compositor has configured the surface and has a buffer of it.
    int bottomMargin() const { return bottomMargin_; }
    int bufferScale() const { return scale_; }
    bool isShown() const { return drawn_; }

private:
    struct Buffer;

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void onOutputScale(void* data, wl_output* output, std::int32_t factor);
    static void onEnter(void* data, wl_surface* surface, wl_output* output);
    static void onLeave(void* data, wl_surface* surface, wl_output* output);
    static void onConfigure(void* data, zwlr_layer_surface_v1* surface, std::uint32_t serial,
                            std::uint32_t width, std::uint32_t height);
    static void onClosed(void* data, zwlr_layer_surface_v1* surface);
    static void onBufferRelease(void* data, wl_buffer* buffer);

    void dispatch();
    void flush();
    void fail(const char* what);
    void disconnect();
    void destroySurface();
    // Sets size and margin on the layer surface and, once configured, draws and commits.
    void update();
    void draw();
    int wantedScale() const;

    const Screens& screens_;
    std::unique_ptr<PanelPainter> painter_;
    int bottomMargin_ = 0;
    int scale_ = 1;

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    std::map<wl_output*, std::uint32_t> outputs_;  // output -> its registry name
    std::map<wl_output*, int> outputScales_;
    std::set<wl_output*> entered_;
    std::unique_ptr<QSocketNotifier> notifier_;

    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layerSurface_ = nullptr;
    bool configured_ = false;
    bool drawn_ = false;
    std::set<Buffer*> buffers_;  // attached or waiting for release
};

}  // namespace sayloft
