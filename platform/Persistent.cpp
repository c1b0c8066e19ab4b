#include "platform/Persistent.h"

#include "platform/Errors.h"

namespace palvex {

void TPersistent::AssignFrom(const TPersistent* source)
{
    if (source == nullptr)
        AssignError(nullptr);
    source->AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& dest) const
{
    dest.AssignError(this);
}

void TPersistent::AssignError(const TPersistent* source) const
{
    throw EConvertError(Format(kSAssignError, source ? source->ClassName() : "nil", ClassName()));
}

} // namespace palvex
