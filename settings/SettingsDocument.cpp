// Loading a description into the model, clearing it, the group tree and the shown settings.
#include "settings/DeviceSettings.h"

#include <algorithm>

#include "base/Messages.h"

namespace {
// Only groups on this tab belong to the settings window.
const int kSettingsTab = 2;

// Removes, below parent, every "group" whose "tab" is absent or not the settings tab. Inner
// groups go first; a removed group takes what is left inside it along.
void PruneGroups(TiXmlElement* parent)
{
    TiXmlElement* child = parent->FirstChildElement();
    while (child) {
        TiXmlElement* next = child->NextSiblingElement();
        PruneGroups(child);
        if (child->ValueStr() == "group" && DS_IntAttribute(child, "tab", -1) != kSettingsTab)
            parent->RemoveChild(child);
        child = next;
    }
}

void RemoveComments(TiXmlNode* parent)
{
    TiXmlNode* child = parent->FirstChild();
    while (child) {
        TiXmlNode* next = child->NextSibling();
        if (child->ToComment())
            parent->RemoveChild(child);
        else
            RemoveComments(child);
        child = next;
    }
}

void ReplaceDeclaration(TiXmlDocument& doc)
{
    TiXmlNode* first = doc.FirstChild();
    if (first && first->ToDeclaration())
        doc.RemoveChild(first);
    TiXmlDeclaration declaration("1.0", "UTF-8", "");
    if (doc.FirstChild())
        doc.InsertBeforeChild(doc.FirstChild(), declaration);
    else
        doc.InsertEndChild(declaration);
}

void GroupsCollect(const TiXmlElement* parent, std::vector<DS_Group>& out)
{
    for (const TiXmlElement* g = parent->FirstChildElement("group"); g;
         g = g->NextSiblingElement("group")) {
        DS_Group group;
        const char* title = g->Attribute("title");
        group.title.Assign(title ? title : "");
        group.gid = DS_Gid(g);
        GroupsCollect(g, group.children);
        out.push_back(std::move(group));
    }
}

bool GroupPathFind(const std::vector<DS_Group>& groups, int64_t gid, std::vector<int>& path)
{
    for (size_t i = 0; i < groups.size(); ++i) {
        path.push_back((int)i);
        if (groups[i].gid == gid || GroupPathFind(groups[i].children, gid, path))
            return true;
        path.pop_back();
    }
    return false;
}
}  // namespace

DeviceSettings::DeviceSettings(SettingsUiI* ui) : ui_(ui), doc_(kDocEncodingUTF8) {}

DeviceSettings::~DeviceSettings()
{
    for (TiXmlElement* e : Scalars()) {
        delete SignalInfo(e);
        e->SetUserData(nullptr);
    }
}

void DeviceSettings::MsgBox(const SString& text)
{
    if (ui_)
        ui_->MsgBox(text);
}

bool DeviceSettings::DS_Load(const char* path)
{
    DS_Clear();
    return LoadFinish(doc_.LoadFile(path, false), path);
}

bool DeviceSettings::DS_LoadStream(FILE* file, const char* name)
{
    DS_Clear();
    return LoadFinish(doc_.LoadFile(file, false), name);
}

bool DeviceSettings::LoadFinish(bool loaded, const char* name)
{
    bool ok = false;
    if (!loaded) {
        MsgBox(TrArgs("Can't load file '^0':\n'^1'", name, doc_.ErrorDesc()));
        DS_Clear();
    } else {
        ReplaceDeclaration(doc_);
        if (TiXmlElement* sygnals = DS_Sygnals(&doc_))
            if (TiXmlElement* groups = sygnals->FirstChildElement("groups"))
                PruneGroups(groups);
        RemoveComments(&doc_);
        GroupsBuild();
        DS_Init();
        ok = DS_CheckFileRecords();
        if (!ok)
            DS_Clear();
    }
    loaded_ = ok;
    SelectGroup(-1, false);
    return ok;
}

bool DeviceSettings::LoadSettingsFile(const char* path)
{
    if (DS_Load(path))
        return true;
    DS_LoadDefault();
    return false;
}

void DeviceSettings::DS_Clear()
{
    ShownDrop();
    for (TiXmlElement* e : Scalars()) {
        delete SignalInfo(e);
        e->SetUserData(nullptr);
    }
    records_.Clear();
    doc_.Clear();
    doc_.ClearError();
    groups_.clear();
    selected_.clear();
    currentGroup_ = -1;
    loaded_ = false;
    if (ui_)
        ui_->GroupsRebuilt();
}

void DeviceSettings::GroupsBuild()
{
    groups_.clear();
    TiXmlElement* sygnals = DS_Sygnals(&doc_);
    if (TiXmlElement* groups = sygnals ? sygnals->FirstChildElement("groups") : nullptr)
        GroupsCollect(groups, groups_);
    if (ui_)
        ui_->GroupsRebuilt();
}

const DS_Group* DeviceSettings::GroupAt(const std::vector<int>& path) const
{
    const std::vector<DS_Group>* level = &groups_;
    const DS_Group* group = nullptr;
    for (int index : path) {
        if (index < 0 || (size_t)index >= level->size())
            return nullptr;
        group = &(*level)[index];
        level = &group->children;
    }
    return group;
}

std::vector<int> DeviceSettings::GroupPathOf(int64_t gid) const
{
    std::vector<int> path;
    if (gid < 0) {
        if (!groups_.empty())
            path.push_back(0);
        return path;
    }
    GroupPathFind(groups_, gid, path);
    return path;
}

void DeviceSettings::SelectGroup(int64_t gid, bool noShow)
{
    selected_ = GroupPathOf(gid);
    if (ui_)
        ui_->GroupSelect(selected_);
    if (noShow)
        return;
    const DS_Group* group = GroupAt(selected_);
    currentGroup_ = group ? group->gid : -1;
    DS_ShowGroup();
}

void DeviceSettings::SelectGroupAt(const std::vector<int>& path)
{
    const DS_Group* group = GroupAt(path);
    selected_ = group ? path : std::vector<int>();
    currentGroup_ = group ? group->gid : -1;
    DS_ShowGroup();
}

void DeviceSettings::ShownDrop()
{
    if (ui_ && !shown_.empty())
        ui_->ShownDropping();
    shown_.clear();
}

void DeviceSettings::DS_ShowGroup()
{
    ShownDrop();
    for (TiXmlElement* e : Scalars())
        if (DS_Gid(e) == currentGroup_)
            shown_.push_back(e);
    if (ui_)
        ui_->GroupShown();
}

bool DeviceSettings::IsShown(const TiXmlElement* element) const
{
    return std::find(shown_.begin(), shown_.end(), element) != shown_.end();
}

std::vector<TiXmlElement*> DeviceSettings::RecordSettings(const TiXmlElement* element) const
{
    std::vector<TiXmlElement*> out;
    const DS_SignalInfo* info = SignalInfo(element);
    if (!info || !info->entry) {
        if (element)
            out.push_back(const_cast<TiXmlElement*>(element));
        return out;
    }
    for (Quill::ListNode* n = info->entry->settings.Head(); n; n = n->next)
        out.push_back(static_cast<TiXmlElement*>(n->data));
    return out;
}

bool DeviceSettings::DS_CheckFileRecords()
{
    for (int32_t i = 0; i < records_.Count(); ++i) {
        Quill::ListNode* head = records_.At(i)->settings.Head();
        if (!head)
            continue;
        auto* first = static_cast<TiXmlElement*>(head->data);
        int gid = DS_Gid(first);
        for (Quill::ListNode* n = head; n; n = n->next) {
            auto* e = static_cast<TiXmlElement*>(n->data);
            if (DS_Gid(e) != gid) {
                MsgBox(TrArgs("Settings with equal file number and record number must be in one "
                              "group.\n\nElement '^0' and '^1' in different groups.",
                              DS_Description(first), DS_Description(e)));
                return false;
            }
            if (n->next && DS_NextScalar(e) != n->next->data) {
                auto* s = static_cast<TiXmlElement*>(n->next->data);
                MsgBox(TrArgs("Settings with equal file number and record number must be in "
                              "succession.\n\nElement '^0' and '^1' not in succession.",
                              DS_Description(e), DS_Description(s)));
                return false;
            }
        }
    }
    return true;
}
