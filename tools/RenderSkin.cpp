// render-skin: draws the updater's window from its skin into a PNG file, without a display, so
// skin and translation authors (and the painter's developers) can look at the result.
//
//     render-skin OUT.png [--scale N] [--lcid 0x0407] [--location FOLDER]
//                 [--show NAME]... [--hide NAME]... [--text NAME=TEXT]... [--disable NAME]...
//                 [--progress FRACTION] [--seconds N]
//
// The main control is a stand-in with the skin's tree and texts but without the updater's
// logic: controls show as the skin leaves them unless --show/--hide/--text say otherwise.
// NAME is a control anywhere in the tree. Exit status 0, or 1 with a message on stderr.

#include "ZTFramework/ControlBase/ControlFactory.h"
#include "ZTFramework/ControlBase/Layout.h"
#include "ZTFramework/Controls/FrameworkControls.h"
#include "ZTFramework/Controls/Panel.h"
#include "ZTFramework/Controls/ProgressBar.h"
#include "ZTFramework/Graphics/ControlPainter.h"


#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

ZT::RCPtr<ZT::LControl> CreateMainControlStandIn()
{
    return ZT::MakeRC<ZT::LPanel>();
}

ZT::LControl* FindAnywhere(ZT::LControl& control, const ZT::WString& name)
{
    if (control.GetName() == name)
        return &control;
    for (ZT::LControl* child : control.GetChildren())
        if (ZT::LControl* found = FindAnywhere(*child, name))
            return found;
    return nullptr;
}

int Fail(const std::string& message)
{
    std::cerr << "render-skin: " << message << "\n";
    return 1;
}

ZT::WString Wide(const std::string& utf8)
{
    std::wstring wide;
    (void)ZT::ConvertUTF8ToWide(utf8, wide); // a name that is not UTF-8 ends there and is not found
    return ZT::WString(wide.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-')
        return Fail("usage: render-skin OUT.png [--scale N] [--lcid LCID] [--location FOLDER] [--show NAME] "
                    "[--hide NAME] [--text NAME=TEXT] [--disable NAME] [--progress FRACTION] [--seconds N]");
    const std::string output = argv[1];
    int scale = 1;
    unsigned long lcid = 0x0409;
    std::string location = "::";
    std::vector<std::pair<std::string, std::string>> edits;   // option, argument in order
    double progress = -1.0;
    double seconds = -1.0;
    for (int at = 2; at < argc; ++at) {
        const std::string option = argv[at];
        if (at + 1 >= argc)
            return Fail("option " + option + " needs a value");
        const std::string value = argv[++at];
        if (option == "--scale")
            scale = std::atoi(value.c_str());
        else if (option == "--lcid")
            lcid = std::strtoul(value.c_str(), nullptr, 0);
        else if (option == "--location")
            location = value;
        else if (option == "--progress")
            progress = std::atof(value.c_str());
        else if (option == "--seconds")
            seconds = std::atof(value.c_str());
        else if (option == "--show" || option == "--hide" || option == "--text" || option == "--disable")
            edits.emplace_back(option, value);
        else
            return Fail("unknown option " + option);
    }
    if (scale < 1 || scale > 4)
        return Fail("the scale must be 1 to 4");

    try {
        const auto factory = ZT::MakeRC<ZT::LControlFactory>();
        if (ZT::Failed(factory->Load(Wide(location), static_cast<std::uint32_t>(lcid))))
            return Fail("the resources at " + location + " could not be loaded");
        for (const std::string& message : factory->GetResources()->GetLoadMessages())
            std::cerr << "render-skin: " << message << "\n";
        if (ZT::Failed(ZT::CFrameworkControls::Register(*factory)) ||
            ZT::Failed(factory->RegisterControlClass(ZT::WString(L"FirmwareUpdater.MainControl"),
                                                     &CreateMainControlStandIn)))
            return Fail("the control classes could not be registered");
        const ZT::RCPtr<ZT::LControl> main = factory->CreateControl(ZT::WString(L"mainControl"));
        const auto painter = ZT::MakeRC<ZT::LControlPainter>(factory->GetResources(), Wide(location));
        painter->SetLocale(static_cast<std::uint32_t>(lcid));
        const ZT::WindowSizeConstraints size = ZT::GetWindowSizeConstraints(*main->GetDescriptor(), {1920, 1080});
        const int width = size.mInitial.GetWidth() > 0 ? size.mInitial.GetWidth() : 400;
        const int height = size.mInitial.GetHeight() > 0 ? size.mInitial.GetHeight() : 450;
        ZT::LayoutControlTree(*main, {0, 0, width, height}, {1920, 1080}, painter.Get());

        for (const auto& [option, value] : edits) {
            const std::string name = option == "--text" ? value.substr(0, value.find('=')) : value;
            ZT::LControl* control = FindAnywhere(*main, Wide(name));
            if (!control)
                return Fail("no control named " + name);
            if (option == "--show" || option == "--hide")
                (void)control->SetVisible(option == "--show"); // returns the visibility just set
            else if (option == "--disable")
                control->SetEnabled(false);
            else if (value.find('=') != std::string::npos)
                control->SetText(Wide(value.substr(value.find('=') + 1)));
        }
        if (auto* bar = dynamic_cast<ZT::LProgressBar*>(FindAnywhere(*main, ZT::WString(L"progressBar")))) {
            if (progress >= 0.0)
                bar->SetValue(progress);
            if (seconds >= 0.0) {
                bar->SetTimeUnknown(false);
                bar->SetSecondsRemaining(seconds);
            }
        }

        const std::string failure = painter->PaintToPng(*main, {width, height}, scale, output);
        for (const std::string& message : painter->GetMessages())
            std::cerr << "render-skin: skin: " << message << "\n";
        if (!failure.empty())
            return Fail(failure);
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
    return 0;
}
