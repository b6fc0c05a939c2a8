#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/StatusHUD.h"
#include "platform/Panel.h"

namespace sayloft::test {

// What a test sees of the panels the HUD made. The panel writes into it, so it stays readable
// while the HUD owns the panel.
struct PanelRecord {
    int created = 0;
    std::string text;
    Point origin;
    Size size{220, 48};
    bool visible = false;
    std::vector<std::string> shown;  // the text at each orderFront
};

class FakePanel final : public Panel {
public:
    explicit FakePanel(PanelRecord& record) : record_(record) {}

    void setText(std::string_view utf8) override { record_.text = std::string(utf8); }
    Size size() const override { return record_.size; }
    void setOrigin(Point origin) override { record_.origin = origin; }
    void orderFront() override {
        record_.visible = true;
        record_.shown.push_back(record_.text);
    }
    void orderOut() override { record_.visible = false; }

    static StatusHUD::PanelFactory factory(PanelRecord& record) {
        return [&record]() -> std::unique_ptr<Panel> {
            ++record.created;
            return std::make_unique<FakePanel>(record);
        };
    }

private:
    PanelRecord& record_;
};

}  // namespace sayloft::test
