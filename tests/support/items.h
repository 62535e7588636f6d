#pragma once
// Lists whose items are named by one character, for the document, command
// and window tests: item c is http://host/<c> with the file name <c>.
#include "model/doc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorv::test {

// Adds one queued item per character of `names`.
inline void Fill(CZorvDoc& doc, const std::string& names, const std::string& destination = "/tmp")
{
    for (const char c : names)
        ASSERT_NE(doc.AddUrl(std::string("http://host/") + c, "", destination, std::string(1, c), 0), nullptr);
}

// The items in list order.
inline std::vector<CItem*> Rows(const CZorvDoc& doc)
{
    std::vector<CItem*> rows;
    for (int r = 0; r < doc.GetCount(); ++r)
        rows.push_back(doc.GetItem(r));
    return rows;
}

// The file names in list order, joined.
inline std::string Names(const CZorvDoc& doc)
{
    std::string out;
    for (const CItem* item : Rows(doc))
        out += item->m_strFileName;
    return out;
}

// The last character of every URL in list order.
inline std::string UrlEnds(const CZorvDoc& doc)
{
    std::string out;
    for (const CItem* item : Rows(doc))
        out += item->m_strUrl.back();
    return out;
}

} // namespace zorv::test
