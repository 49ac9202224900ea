#pragma once

#include "support/registry/CompanyRegistry.h"

namespace Kestlib500 {

// The key of one server instance: <company>\<server>, then \<instance> when
// the instance name is not empty, then any sub-keys appended. A null
// instance name addresses no key: every operation fails or gives its default.
class ServerRegistry : public CompanyRegistry {
public:
    // The stored value as text (see ValueAsText), or the default's text when
    // the key or value cannot be read: the empty text, the signed decimal of
    // a DWORD default, or a string default as given.
    SWCharString ReadValue(const SWCharString& name);
    SWCharString ReadValue(const SWCharString& name, DWORD defaultValue);
    SWCharString ReadValue(const SWCharString& name, const SWCharString& defaultValue);

    // Iterators standing on the first value / sub-key; each opens the key
    // anew and owns what it opened. They read the object's snapshot, so they
    // go before the object does.
    ValueIterator EnumValues();
    KeyIterator EnumSubKeys();

protected:
    ServerRegistry(const SWCharString& serverName, const SWCharString& instanceName);
    // Addresses `subKey` (as given, backslashes and all) below the key.
    void appendKey(const SWCharString& subKey);

private:
    // The stored value's text into `text`; false when it cannot be read.
    bool ReadText(const SWCharString& name, std::wstring& text);
};

} // namespace Kestlib500
