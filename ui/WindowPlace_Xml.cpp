// The dialog place as one element of the user settings file.
#include <cstdio>

#include "recoding/XmlEventReader.h"
#include "recoding/XmlStreamWriter.h"
#include "ui/WindowPlace.h"

namespace Quill {

void WindowPlaceManagement::Load(const XmlAttribute* attributes)
{
    bool visible = XmlEventReader::AttrInt(attributes, "visible", 0) != 0;
    Rect r;
    r.left = (int)XmlEventReader::AttrInt(attributes, "left", 0);
    r.top = (int)XmlEventReader::AttrInt(attributes, "top", 0);
    r.right = (int)XmlEventReader::AttrInt(attributes, "right", 0);
    r.bottom = (int)XmlEventReader::AttrInt(attributes, "bottom", 0);
    SetVisible(visible, r.right > r.left && r.bottom > r.top ? &r : nullptr);
}

int WindowPlaceManagement::Save(XmlStreamWriter* writer, const char* name) const
{
    Place p = GetPlace();
    char left[16], top[16], right[16], bottom[16], visible[4];
    snprintf(left, sizeof left, "%d", p.rect.left);
    snprintf(top, sizeof top, "%d", p.rect.top);
    snprintf(right, sizeof right, "%d", p.rect.right);
    snprintf(bottom, sizeof bottom, "%d", p.rect.bottom);
    snprintf(visible, sizeof visible, "%d", p.visible ? 1 : 0);
    return writer->EmptyElement(name, {{"left", left},
                                       {"top", top},
                                       {"right", right},
                                       {"bottom", bottom},
                                       {"visible", visible}});
}

}  // namespace Quill
