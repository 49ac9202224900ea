#include "tools/vesk/core/StepStore.h"

#include "support/text/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace vesk_tool {
namespace {

// Each step: its action and its line, then a key step's path, or a value
// step's name, type and data (its key is the key step's before it).
class Reader {
public:
    explicit Reader(const std::vector<unsigned char>& bytes) : bytes(bytes) {}

    bool done() const { return at == bytes.size(); }
    unsigned char byte() { return bytes[at++]; }

    std::uint32_t number()
    {
        const auto value = static_cast<std::uint32_t>(vesk_text::readLittleEndian(&bytes[at], sizeof(std::uint32_t)));
        at += sizeof(std::uint32_t);
        return value;
    }

    void text(std::wstring& into)
    {
        const std::uint32_t size = number();
        into.resize(size);
        if (size != 0)
            std::memcpy(&into[0], &bytes[at], size * sizeof(wchar_t));
        at += size * sizeof(wchar_t);
    }

    void data(std::vector<unsigned char>& into)
    {
        const std::uint32_t size = number();
        into.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    }

private:
    const std::vector<unsigned char>& bytes;
    std::size_t at = 0;
};

bool isKeyStep(ImportStep::Action action)
{
    return action == ImportStep::Action::CreateKey || action == ImportStep::Action::DeleteKey;
}

void putNumber(std::vector<unsigned char>& block, std::uint32_t number)
{
    vesk_text::appendLittleEndian(block, number, sizeof number);
}

void putText(std::vector<unsigned char>& block, const std::wstring& text)
{
    putNumber(block, static_cast<std::uint32_t>(text.size()));
    const std::size_t at = block.size();
    block.resize(at + text.size() * sizeof(wchar_t));
    if (!text.empty())
        std::memcpy(&block[at], text.data(), text.size() * sizeof(wchar_t));
}

} // namespace

std::vector<unsigned char>& StepStore::room(std::size_t size)
{
    constexpr std::size_t BlockBytes = std::size_t(1) << 20;
    if (blocks.empty() || blocks.back().size() + size > blocks.back().capacity()) {
        blocks.emplace_back();
        blocks.back().reserve(std::max(BlockBytes, size));
    }
    return blocks.back();
}

void StepStore::add(const ImportStep& step)
{
    const bool keyStep = isKeyStep(step.action);
    const std::size_t size = 1 + 2 * sizeof(std::uint32_t) +
                             (keyStep ? step.key.size() * sizeof(wchar_t)
                                      : step.name.size() * sizeof(wchar_t) + 2 * sizeof(std::uint32_t) + step.value.data.size());
    std::vector<unsigned char>& block = room(size);
    block.push_back(static_cast<unsigned char>(step.action));
    putNumber(block, static_cast<std::uint32_t>(step.line));
    if (keyStep) {
        putText(block, step.key);
        return;
    }
    putText(block, step.name);
    putNumber(block, step.value.type);
    putNumber(block, static_cast<std::uint32_t>(step.value.data.size()));
    block.insert(block.end(), step.value.data.begin(), step.value.data.end());
}

void StepStore::walk(const std::function<void(const ImportStep&)>& visit) const
{
    ImportStep step;
    for (const std::vector<unsigned char>& block : blocks) {
        for (Reader reader(block); !reader.done();) {
            step.action = static_cast<ImportStep::Action>(reader.byte());
            step.line = static_cast<int>(reader.number());
            if (isKeyStep(step.action)) {
                reader.text(step.key);
                step.name.clear();
                step.value.type = REG_NONE;
                step.value.data.clear();
            } else {
                reader.text(step.name);
                step.value.type = reader.number();
                reader.data(step.value.data);
            }
            visit(step);
        }
    }
}

} // namespace vesk_tool
