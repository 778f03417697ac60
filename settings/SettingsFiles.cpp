// Settings files: the whole document, or one group with its settings, saved as a description
// with values.
#include <glib.h>

#include <cerrno>
#include <memory>
#include <new>

#include "base/Messages.h"
#include "settings/DeviceSettings.h"

namespace {
// A copy for another document: the record stays with the original element.
TiXmlNode* CloneDetached(const TiXmlNode* node)
{
    TiXmlNode* copy = node->Clone();
    if (!copy)
        return nullptr;
    copy->SetUserData(nullptr);
    return copy;
}

// Links child under parent; false (and nothing linked) when there is no child.
bool LinkChild(TiXmlNode* parent, TiXmlNode* child)
{
    return child && parent->LinkEndChild(child);
}
}  // namespace

bool DeviceSettings::DS_Export(bool all, const char* path)
{
    std::unique_ptr<TiXmlDocumentRecode> group;
    const TiXmlDocumentRecode* out = &doc_;
    if (!all) {
        group.reset(new (std::nothrow) TiXmlDocumentRecode(kDocEncodingUTF8));
        TiXmlElement* device = new (std::nothrow) TiXmlElement("device");
        TiXmlElement* sygnals = new (std::nothrow) TiXmlElement("sygnals");
        TiXmlElement* groups = new (std::nothrow) TiXmlElement("groups");
        TiXmlElement* one = new (std::nothrow) TiXmlElement("group");
        TiXmlDeclaration* declaration = new (std::nothrow) TiXmlDeclaration("1.0", "UTF-8", "");
        bool ok = group && LinkChild(group.get(), declaration) && LinkChild(group.get(), device);
        if (!ok) {
            delete declaration;
            delete device;
        }
        const TiXmlElement* source = doc_.FirstChildElement("device");
        const TiXmlElement* description = source ? source->FirstChildElement("description") : nullptr;
        if (ok && description)
            ok = LinkChild(device, CloneDetached(description));
        ok = ok && LinkChild(device, sygnals);
        if (!ok)
            delete sygnals;
        ok = ok && LinkChild(sygnals, groups);
        if (!ok)
            delete groups;
        ok = ok && LinkChild(groups, one);
        if (!ok) {
            delete one;
        } else {
            const DS_Group* selected = GroupAt(selected_);
            one->SetAttribute("gid", (int)(selected ? selected->gid : currentGroup_));
            one->SetAttribute("tab", 2);
            one->SetAttribute("title", selected ? selected->title.Text() : "");
        }
        for (TiXmlElement* e : Scalars())
            if (ok && DS_Gid(e) == currentGroup_)
                ok = LinkChild(sygnals, CloneDetached(e));
        if (!ok) {
            DiagNoMem("GUIApp::DS_Export");
            return false;
        }
        out = group.get();
    }
    // Both documents declare UTF-8: the load put that declaration in, the group file makes its own.
    errno = 0;
    if (out->SaveFile(path, kDocEncodingUTF8))
        return true;
    int saved = errno;
    const char* reason = out->Error() ? out->ErrorDesc() : g_strerror(saved ? saved : EIO);
    MsgBox(TrArgs("Can't save file '^0':\n'^1'", path, reason));
    return false;
}
