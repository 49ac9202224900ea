#include "tools/vesk/core/StepStore.h"

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
        std::uint32_t value;
        std::memcpy(&value, &bytes[at], sizeof value);
        at += sizeof value;
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

} // namespace

void StepStore::putNumber(std::uint32_t number)
{
    const std::size_t at = bytes.size();
    bytes.resize(at + sizeof number);
    std::memcpy(&bytes[at], &number, sizeof number);
}

void StepStore::putText(const std::wstring& text)
{
    putNumber(static_cast<std::uint32_t>(text.size()));
    const std::size_t at = bytes.size();
    bytes.resize(at + text.size() * sizeof(wchar_t));
    if (!text.empty())
        std::memcpy(&bytes[at], text.data(), text.size() * sizeof(wchar_t));
}

void StepStore::add(const ImportStep& step)
{
    bytes.push_back(static_cast<unsigned char>(step.action));
    putNumber(static_cast<std::uint32_t>(step.line));
    if (isKeyStep(step.action)) {
        putText(step.key);
        return;
    }
    putText(step.name);
    putNumber(step.value.type);
    putNumber(static_cast<std::uint32_t>(step.value.data.size()));
    bytes.insert(bytes.end(), step.value.data.begin(), step.value.data.end());
}

void StepStore::walk(const std::function<void(const ImportStep&)>& visit) const
{
    ImportStep step;
    Reader reader(bytes);
    while (!reader.done()) {
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

} // namespace vesk_tool
