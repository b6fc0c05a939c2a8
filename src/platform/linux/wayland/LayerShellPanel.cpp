#include "platform/linux/wayland/LayerShellPanel.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSocketNotifier>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>
#include <optional>

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "platform/linux/qt/PanelPainter.h"

// The generated header names a parameter "namespace", a C++ keyword.
#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

namespace sayloft {
namespace {

constexpr std::uint32_t compositorVersion = 4;  // wl_surface.set_buffer_scale needs 3
constexpr std::uint32_t layerShellVersion = 1;  // everything used here is in version 1
constexpr std::uint32_t outputVersion = 2;      // wl_output.scale

void ignoreGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    std::int32_t, const char*, const char*, std::int32_t) {
}
void ignoreMode(void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {
}
void ignoreDone(void*, wl_output*) {
}
void ignoreText(void*, wl_output*, const char*) {
}

}  // namespace

// A wl_buffer over a memfd mapping, painted through a QImage; freed when the compositor
// releases it (or with the panel).
struct LayerShellPanel::Buffer {
    wl_buffer* buffer = nullptr;
    void* data = MAP_FAILED;
    std::size_t bytes = 0;

    ~Buffer() {
        if (buffer != nullptr) {
            wl_buffer_destroy(buffer);
        }
        if (data != MAP_FAILED) {
            munmap(data, bytes);
        }
    }
};

LayerShellPanel::LayerShellPanel(const Screens& screens, const char* displayName)
    : screens_(screens), painter_(std::make_unique<PanelPainter>(QGuiApplication::font())) {
    display_ = wl_display_connect(displayName);
    if (display_ == nullptr) {
        std::cerr << "sayloft: panel: no Wayland compositor answers; the panel stays hidden\n";
        return;
    }
    static constexpr wl_registry_listener registryListener{onGlobal, onGlobalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    // The globals, then the outputs' first events (their scales).
    if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
        fail("the Wayland connection failed");
        return;
    }
    if (layerShell_ == nullptr || compositor_ == nullptr || shm_ == nullptr) {
        std::cerr << "sayloft: panel: the compositor offers no zwlr_layer_shell_v1; the panel "
                     "stays hidden\n";
        disconnect();
        return;
    }
    scale_ = wantedScale();
    notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { dispatch(); });
}

LayerShellPanel::~LayerShellPanel() {
    disconnect();
}

void LayerShellPanel::setText(std::string_view utf8) {
    painter_->setText(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    update();
}

Size LayerShellPanel::size() const {
    const QSize size = painter_->size();
    return Size{static_cast<double>(size.width()), static_cast<double>(size.height())};
}

void LayerShellPanel::setOrigin(Point origin) {
    std::optional<Screens::Screen> holder;
    for (const auto& screen : screens_.screens()) {
        if (screen.frame.contains(origin)) {
            holder = screen;
            break;
        }
    }
    if (!holder) {
        holder = screens_.mainScreen();
    }
    if (!holder) {
        return;
    }
    const double gap = holder->visibleFrame.maxY() - origin.y - size().height;
    bottomMargin_ = std::max(0, static_cast<int>(std::lround(gap)));
    update();
}

void LayerShellPanel::orderFront() {
    if (!isAvailable() || layerSurface_ != nullptr) {
        return;
    }
    static constexpr wl_surface_listener surfaceListener{onEnter, onLeave};
    static constexpr zwlr_layer_surface_v1_listener layerListener{onConfigure, onClosed};
    surface_ = wl_compositor_create_surface(compositor_);
    wl_surface_add_listener(surface_, &surfaceListener, this);
    // No region at all would mean "everywhere"; an empty one lets every click through.
    wl_region* nothing = wl_compositor_create_region(compositor_);
    wl_surface_set_input_region(surface_, nothing);
    wl_region_destroy(nothing);
    layerSurface_ = zwlr_layer_shell_v1_get_layer_surface(
        layerShell_, surface_, nullptr, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "sayloft-panel");
    zwlr_layer_surface_v1_add_listener(layerSurface_, &layerListener, this);
    zwlr_layer_surface_v1_set_anchor(layerSurface_, ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM);
    zwlr_layer_surface_v1_set_exclusive_zone(layerSurface_, 0);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        layerSurface_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    // The first commit carries no buffer; the compositor answers with a configure.
    update();
}

void LayerShellPanel::orderOut() {
    destroySurface();
    flush();
}

void LayerShellPanel::update() {
    if (layerSurface_ == nullptr) {
        return;
    }
    const QSize size = painter_->size();
    zwlr_layer_surface_v1_set_size(layerSurface_, static_cast<std::uint32_t>(size.width()),
                                   static_cast<std::uint32_t>(size.height()));
    zwlr_layer_surface_v1_set_margin(layerSurface_, 0, 0, bottomMargin_, 0);
    if (configured_) {
        draw();
    } else {
        wl_surface_commit(surface_);
    }
    flush();
}

void LayerShellPanel::draw() {
    const QSize logical = painter_->size();
    const int width = logical.width() * scale_;
    const int height = logical.height() * scale_;
    const int stride = width * 4;
    auto buffer = std::make_unique<Buffer>();
    buffer->bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    const int fd = memfd_create("sayloft-panel", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(buffer->bytes)) < 0) {
        std::cerr << "sayloft: panel: no shared memory: " << std::strerror(errno) << "\n";
        if (fd >= 0) {
            close(fd);
        }
        return;
    }
    buffer->data = mmap(nullptr, buffer->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (buffer->data == MAP_FAILED) {
        std::cerr << "sayloft: panel: cannot map shared memory: " << std::strerror(errno) << "\n";
        close(fd);
        return;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<std::int32_t>(buffer->bytes));
    // wl_shm's ARGB8888 is premultiplied, in native byte order: QImage's ARGB32_Premultiplied.
    buffer->buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    static constexpr wl_buffer_listener bufferListener{onBufferRelease};
    wl_buffer_add_listener(buffer->buffer, &bufferListener, this);

    QImage image(static_cast<uchar*>(buffer->data), width, height, stride,
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale_);
    {
        QPainter painter(&image);
        painter_->paint(painter);
    }
    wl_surface_set_buffer_scale(surface_, scale_);
    wl_surface_attach(surface_, buffer->buffer, 0, 0);
    wl_surface_damage(surface_, 0, 0, logical.width(), logical.height());
    wl_surface_commit(surface_);
    buffers_.insert(buffer.release());
    drawn_ = true;
}

void LayerShellPanel::destroySurface() {
    if (layerSurface_ != nullptr) {
        zwlr_layer_surface_v1_destroy(layerSurface_);
        layerSurface_ = nullptr;
    }
    if (surface_ != nullptr) {
        wl_surface_destroy(surface_);
        surface_ = nullptr;
    }
    // Whatever the compositor still held went with the surface.
    for (Buffer* buffer : buffers_) {
        delete buffer;
    }
    buffers_.clear();
    entered_.clear();
    configured_ = false;
    drawn_ = false;
}

int LayerShellPanel::wantedScale() const {
    // The outputs the surface is on; before it is on one, the largest scale of all (a sharp
    // first frame rather than a blurred one).
    int scale = 1;
    for (const auto& [output, factor] : outputScales_) {
        if (entered_.empty() || entered_.count(output) > 0) {
            scale = std::max(scale, factor);
        }
    }
    return scale;
}

void LayerShellPanel::dispatch() {
    if (display_ == nullptr) {
        return;
    }
    // What is queued already, then what the socket holds, never blocking the main thread.
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            fail("the Wayland connection broke");
            return;
        }
    }
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
        fail("the Wayland connection broke");
        return;
    }
    flush();
}

void LayerShellPanel::flush() {
    // A broken connection shows at the next read (the socket turns readable and reading
    // fails), outside any handler.
    if (display_ != nullptr) {
        wl_display_flush(display_);
    }
}

void LayerShellPanel::fail(const char* what) {
    const int error = display_ != nullptr ? wl_display_get_error(display_) : 0;
    std::cerr << "sayloft: panel: " << what;
    if (error != 0) {
        std::cerr << " (" << std::strerror(error) << ")";
    }
    std::cerr << "; the panel stays hidden\n";
    disconnect();
}

void LayerShellPanel::disconnect() {
    notifier_.reset();
    if (display_ == nullptr) {
        return;
    }
    destroySurface();
    for (const auto& [output, name] : outputs_) {
        wl_output_destroy(output);
    }
    outputs_.clear();
    outputScales_.clear();
    if (layerShell_ != nullptr) {
        zwlr_layer_shell_v1_destroy(layerShell_);
        layerShell_ = nullptr;
    }
    if (shm_ != nullptr) {
        wl_shm_destroy(shm_);
        shm_ = nullptr;
    }
    if (compositor_ != nullptr) {
        wl_compositor_destroy(compositor_);
        compositor_ = nullptr;
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
        registry_ = nullptr;
    }
    wl_display_flush(display_);
    wl_display_disconnect(display_);
    display_ = nullptr;
}

void LayerShellPanel::onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                               const char* interface, std::uint32_t version) {
    auto& self = *static_cast<LayerShellPanel*>(data);
    const auto bind = [&](const wl_interface* type, std::uint32_t highest) {
        return wl_registry_bind(registry, name, type, std::min(version, highest));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0 && version >= 3) {
        self.compositor_ =
            static_cast<wl_compositor*>(bind(&wl_compositor_interface, compositorVersion));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        self.shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        self.layerShell_ = static_cast<zwlr_layer_shell_v1*>(
            bind(&zwlr_layer_shell_v1_interface, layerShellVersion));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0 && version >= 2) {
        static constexpr wl_output_listener outputListener{ignoreGeometry, ignoreMode, ignoreDone,
                                                           onOutputScale,  ignoreText, ignoreText};
        auto* output = static_cast<wl_output*>(bind(&wl_output_interface, outputVersion));
        wl_output_add_listener(output, &outputListener, data);
        self.outputs_[output] = name;
        self.outputScales_[output] = 1;
    }
}

void LayerShellPanel::onGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto& self = *static_cast<LayerShellPanel*>(data);
    for (auto it = self.outputs_.begin(); it != self.outputs_.end(); ++it) {
        if (it->second == name) {
            wl_output* output = it->first;
            self.outputs_.erase(it);
            self.outputScales_.erase(output);
            self.entered_.erase(output);
            wl_output_destroy(output);
            return;
        }
    }
}

void LayerShellPanel::onOutputScale(void* data, wl_output* output, std::int32_t factor) {
    auto& self = *static_cast<LayerShellPanel*>(data);
    self.outputScales_[output] = std::max(1, factor);
    const int wanted = self.wantedScale();
    if (wanted != self.scale_) {
        self.scale_ = wanted;
        self.update();
    }
}

void LayerShellPanel::onEnter(void* data, wl_surface*, wl_output* output) {
    auto& self = *static_cast<LayerShellPanel*>(data);
    self.entered_.insert(output);
    onOutputScale(data, output, self.outputScales_.count(output) ? self.outputScales_[output] : 1);
}

void LayerShellPanel::onLeave(void* data, wl_surface*, wl_output* output) {
    auto& self = *static_cast<LayerShellPanel*>(data);
    self.entered_.erase(output);
}

void LayerShellPanel::onConfigure(void* data, zwlr_layer_surface_v1* surface, std::uint32_t serial,
                                  std::uint32_t, std::uint32_t) {
    auto& self = *static_cast<LayerShellPanel*>(data);
    zwlr_layer_surface_v1_ack_configure(surface, serial);
    self.configured_ = true;
    self.draw();
}

void LayerShellPanel::onClosed(void* data, zwlr_layer_surface_v1*) {
    // The compositor took the surface away (its output went); the next orderFront makes a new
    // one.
    static_cast<LayerShellPanel*>(data)->destroySurface();
}

void LayerShellPanel::onBufferRelease(void* data, wl_buffer* released) {
    auto& self = *static_cast<LayerShellPanel*>(data);
    for (Buffer* buffer : self.buffers_) {
        if (buffer->buffer == released) {
            self.buffers_.erase(buffer);
            delete buffer;
            return;
        }
    }
}

}  // namespace sayloft
