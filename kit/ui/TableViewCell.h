#pragma once
// One row of a table: a plain view with a text, a font and a line-break mode,
// made by the table's data source and reused by identifier. A cell belongs to
// its table's view tree while shown and to the table's reuse pool otherwise.
#include "kit/ui/Label.h"

namespace kit {

enum class TableViewCellStyle { Default = 0 };

class TableViewCell : public View {
public:
    static std::shared_ptr<TableViewCell> create(Rect frame, std::string reuseIdentifier);
    TableViewCell(Rect frame, std::string reuseIdentifier);

    std::string className() const override { return "UITableViewCell"; }
    static constexpr ViewKind staticKind = ViewKind::TableViewCell;
    ViewKind kind() const override { return staticKind; }
    // A row says its text; a tap on it, from anywhere, is a tap on its row.
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::ListItem; }
    std::string accessibilityName() const override { return labelOr(m_text); }
    AccessibilityState accessibilityState() const override;
    bool canActivate() const override { return true; }
    bool activate() override;
    std::string displayText() const override { return m_text; }

    const std::string& reuseIdentifier() const { return m_reuseIdentifier; }
    const std::string& text() const { return m_text; }
    void setText(std::string text);
    const Font& font() const { return m_font; }
    void setFont(const Font& font);
    LineBreakMode lineBreakMode() const { return m_lineBreak; }
    void setLineBreakMode(LineBreakMode mode);
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

    // Called by the table before the cell is handed out again.
    virtual void prepareForReuse() { setSelected(false); }

private:
    std::string m_reuseIdentifier;
    std::string m_text;
    Font m_font { Font::boldSystemFont(20) };
    LineBreakMode m_lineBreak { LineBreakMode::TailTruncation };
    bool m_selected { false };
};

} // namespace kit
