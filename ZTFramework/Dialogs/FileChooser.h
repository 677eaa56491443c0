#pragma once
// Asking the user for a file: the interface a control uses, whatever shows the chooser (the
// desktop's own, through LFileDialog; a test's fake). The window host hands out the desktop's.

#include "ZTFramework/ObjectBase/RCPtr.h"
#include "ZTFramework/ObjectBase/RefCountedObject.h"
#include "ZTFramework/Utilities/Storage/StringT.h"

namespace ZT {

class IFileChooser : public virtual LRefCountedObject {
public:
    struct Request {
        WString mTitle;
        WString mFilter;           // "description|pattern|description|pattern"
        WString mDefaultExtension; // "*.dfu"; a hint for choosers that take one
    };
    // Unavailable: nothing could show a chooser on this desktop, so the user was asked nothing
    // (a caller then says how else to give a file).
    enum class Outcome { Chosen, Cancelled, Unavailable };

    // Asks the user for one existing file. Chosen with its full path in path; Cancelled and
    // Unavailable with path left as it was.
    [[nodiscard]] virtual Outcome ChooseFileToOpen(const Request& request, WString& path) = 0;
};

} // namespace ZT
