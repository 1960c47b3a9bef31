#include "platform/stores/imap/ImapAttributes.h"

#include <libetpan/libetpan.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace tindale::store::imapwire {

int64_t EpochOf(const mailimap_date_time& d) {
    std::tm tm{};
    tm.tm_year = d.dt_year - 1900;
    tm.tm_mon = d.dt_month - 1;
    tm.tm_mday = d.dt_day;
    tm.tm_hour = d.dt_hour;
    tm.tm_min = d.dt_min;
    tm.tm_sec = d.dt_sec;
    int zone = d.dt_zone;  // +0130 is 130
    int offset = (zone / 100) * 3600 + (zone % 100) * 60;
    return static_cast<int64_t>(timegm(&tm)) - offset;
}

mailimap_date_time* DateTimeOf(int64_t epoch) {
    time_t t = static_cast<time_t>(epoch);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return mailimap_date_time_new(tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour,
                                  tm.tm_min, tm.tm_sec, 0);
}

namespace {

void AddFlag(ImapMessage& message, const mailimap_flag& flag) {
    switch (flag.fl_type) {
        case MAILIMAP_FLAG_ANSWERED:
            message.flags += 'R';
            break;
        case MAILIMAP_FLAG_FLAGGED:
            message.flags += 'F';
            break;
        case MAILIMAP_FLAG_DELETED:
            message.flags += 'T';
            break;
        case MAILIMAP_FLAG_SEEN:
            message.flags += 'S';
            break;
        case MAILIMAP_FLAG_DRAFT:
            message.flags += 'D';
            break;
        case MAILIMAP_FLAG_KEYWORD:
            if (!flag.fl_data.fl_keyword) break;
            if (strcasecmp(flag.fl_data.fl_keyword, "$Forwarded") == 0)
                message.flags += 'P';
            else
                message.keywords.emplace_back(flag.fl_data.fl_keyword);
            break;
        default:
            break;  // \Recent and other system flags are the server's own
    }
}

void TakeAttribute(ImapMessage& message, const mailimap_msg_att_item& item) {
    if (item.att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC && item.att_data.att_dyn &&
        item.att_data.att_dyn->att_list) {
        for (clistiter* f = clist_begin(item.att_data.att_dyn->att_list); f; f = clist_next(f)) {
            auto* fetched = static_cast<mailimap_flag_fetch*>(clist_content(f));
            if (fetched->fl_type == MAILIMAP_FLAG_FETCH_OTHER && fetched->fl_flag)
                AddFlag(message, *fetched->fl_flag);
        }
        std::sort(message.flags.begin(), message.flags.end());
        return;
    }
    if (item.att_type != MAILIMAP_MSG_ATT_ITEM_STATIC || !item.att_data.att_static) return;
    const auto& att = *item.att_data.att_static;
    switch (att.att_type) {
        case MAILIMAP_MSG_ATT_UID:
            message.uid = att.att_data.att_uid;
            break;
        case MAILIMAP_MSG_ATT_RFC822_SIZE:
            message.size = att.att_data.att_rfc822_size;
            break;
        case MAILIMAP_MSG_ATT_INTERNALDATE:
            if (att.att_data.att_internal_date)
                message.internalDate = EpochOf(*att.att_data.att_internal_date);
            break;
        case MAILIMAP_MSG_ATT_BODY_SECTION:
            if (att.att_data.att_body_section && att.att_data.att_body_section->sec_body_part)
                message.header.assign(att.att_data.att_body_section->sec_body_part,
                                      att.att_data.att_body_section->sec_length);
            break;
        default:
            break;
    }
}

}  // namespace

ImapMessage MessageOf(mailimap_msg_att* att) {
    ImapMessage message;
    for (clistiter* i = clist_begin(att->att_list); i; i = clist_next(i))
        TakeAttribute(message, *static_cast<mailimap_msg_att_item*>(clist_content(i)));
    return message;
}

mailimap_flag_list* FlagListOf(const ImapFlags& flags) {
    mailimap_flag_list* list = mailimap_flag_list_new_empty();
    for (char c : flags.letters) {
        mailimap_flag* flag = nullptr;
        switch (c) {
            case 'D':
                flag = mailimap_flag_new_draft();
                break;
            case 'F':
                flag = mailimap_flag_new_flagged();
                break;
            case 'P':
                flag = mailimap_flag_new_flag_keyword(strdup("$Forwarded"));
                break;
            case 'R':
                flag = mailimap_flag_new_answered();
                break;
            case 'S':
                flag = mailimap_flag_new_seen();
                break;
            case 'T':
                flag = mailimap_flag_new_deleted();
                break;
            default:
                break;
        }
        if (flag) mailimap_flag_list_add(list, flag);
    }
    for (const auto& keyword : flags.keywords)
        if (!keyword.empty() && keyword.find_first_of(" ()[]{%*\"\\\r\n") == std::string::npos)
            mailimap_flag_list_add(list, mailimap_flag_new_flag_keyword(strdup(keyword.c_str())));
    return list;
}

mailimap_set* SetOf(std::vector<uint32_t> uids) {
    std::sort(uids.begin(), uids.end());
    mailimap_set* set = mailimap_set_new_empty();
    for (size_t i = 0; i < uids.size();) {
        size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
        mailimap_set_add_interval(set, uids[i], uids[j]);
        i = j + 1;
    }
    return set;
}

}  // namespace tindale::store::imapwire
