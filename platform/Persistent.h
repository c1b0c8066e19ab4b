// The persistent base object: copy-from and copy-to between kinds that may live
// in different layers, with the platform's generic assignment error.
#pragma once

#include <string>

namespace palvex {

class TPersistent {
public:
    // Copies go through AssignFrom and AssignTo, which know the kinds.
    TPersistent() = default;
    TPersistent(const TPersistent&) = delete;
    TPersistent& operator=(const TPersistent&) = delete;
    virtual ~TPersistent() = default;

    virtual const char* ClassName() const { return "TPersistent"; }

    // Copies source into this object. The base knows no kind, so it lets the
    // source copy itself here; a null source is an assignment error.
    virtual void AssignFrom(const TPersistent* source);

    // Copies this object into dest; the base fails with dest's assignment error.
    virtual void AssignTo(TPersistent& dest) const;

    // Lets a kind of a higher layer take part in a copy that a lower-layer kind
    // starts (a TBitmap32 copying into a platform bitmap). False: unknown source.
    virtual bool TakeFrom(const TPersistent& source)
    {
        (void)source;
        return false;
    }

    // EConvertError "Cannot assign a <source> to a <this>".
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

} // namespace palvex
