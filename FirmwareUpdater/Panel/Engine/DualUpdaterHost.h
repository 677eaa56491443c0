#pragma once
// What the dual updater needs of the window's main control (or of whatever drives the update in
// its place): going on with the next image without user action, and the two version labels.
//
// The main control implements it and hands itself to LDualUpdater::SetHost while it exists.
// Every call comes on the user-interface thread.

#include "ZTFramework/Utilities/Storage/StringT.h"

class IDualUpdaterHost {
public:
    virtual ~IDualUpdaterHost() = default;

    // Goes on with the update process as the "UPDATE FIRMWARE" button would: into update mode
    // when the device is in normal mode, the download when it is in update mode.
    virtual void ContinueUpdateProcess() = 0;

    // Whether the main control has a label of this name.
    [[nodiscard]] virtual bool HasLabel(const ZT::WString& labelName) = 0;
    // The entry stringId of the label's string table ("LABEL" is its default text). False, with
    // text left as it was, when the label or the entry does not exist.
    [[nodiscard]] virtual bool GetLabelString(const ZT::WString& labelName, const ZT::WString& stringId,
                                              ZT::WString& text) = 0;
    // Shows text in the label; nothing when there is no such label.
    virtual void SetLabelText(const ZT::WString& labelName, const ZT::WString& text) = 0;
    // Hides the button; nothing when there is no such button.
    virtual void HideButton(const ZT::WString& buttonName) = 0;
};
