// Terminal output: aligned text tables and colour, used only on a terminal
// and never when NO_COLOR is set.
#pragma once

#include <string>
#include <vector>

namespace zxctl {

enum class Style { Plain, Heading, Muted, Error };

struct Cell {
    std::string text;
    Style style = Style::Plain;
};

bool colourEnabled();
std::string styled(const std::string& text, Style style);

class Table {
public:
    explicit Table(std::string indent = "") : indent_(std::move(indent)) {}
    void header(std::vector<std::string> names);
    void row(std::vector<Cell> cells);
    // Columns padded to their widest cell (counted in characters, not bytes).
    std::string render() const;

private:
    std::string indent_;
    std::vector<std::vector<Cell>> rows_;
};

}  // namespace zxctl
