#include "tools/vesk/core/Failure.h"

#include "tools/vesk/core/Text.h"
#include "vesk/VeskSettings.h"

#include <new>

namespace vesk_tool {

int exitStatusOf(std::exception_ptr thrown, const std::function<void(const std::string& line)>& say)
{
    try {
        std::rethrow_exception(thrown);
    } catch (const Failure& failure) {
        say("vesk: " + failure.explanation());
        return failure.code();
    } catch (const VeskSettings::BadKeyTypeError&) {
        say("vesk: a stored value has another type than the command reads: see 'vesk list'");
        return WrongType;
    } catch (const DecodeError& error) {
        say(std::string("vesk: text that is not UTF-8 (") + error.what() + "): pass names and values as UTF-8");
        return BadInput;
    } catch (const std::bad_alloc&) {
        say("vesk: out of memory: close other programs or work on a smaller key");
        return StoreFailure;
    } catch (const std::exception& error) {
        // The registry layer's failures name what failed and what to do.
        say(std::string("vesk: ") + error.what());
        return StoreFailure;
    } catch (...) {
        say("vesk: an unexpected failure; nothing more is known: run the command again");
        return StoreFailure;
    }
}

} // namespace vesk_tool
