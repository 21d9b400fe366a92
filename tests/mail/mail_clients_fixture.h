// What the real-server mail tests share: an SMTP and a POP3 client, a folder for
// files to attach and one for received attachments, files written there, and
// both sessions closed after each test, and every message in the mailbox
// checked against the wire's line limit.
#pragma once

#include "mail/net/pop3_client.h"
#include "mail/net/smtp_client.h"
#include "tests/support/mail_check.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tq {

// Base is ::testing::Test or a ::testing::TestWithParam<...>.
template <typename Base>
class MailClientsFixture : public Base {
protected:
    void TearDown() override
    {
        if (pop3.Connected()) {
            pop3.Disconnect();
        }
        if (smtp.Connected()) {
            smtp.Disconnect();
        }
        // Whatever the test delivered keeps to the wire's line limit.
        const char* maildir = std::getenv("TQ_MAILDIR");
        for (const char* sub : {"/new", "/cur"}) {
            std::error_code ec;
            if (maildir == nullptr || !std::filesystem::is_directory(std::string(maildir) + sub, ec)) {
                continue;
            }
            for (const auto& entry : std::filesystem::directory_iterator(std::string(maildir) + sub, ec)) {
                // (A message moved by the server meanwhile reads empty.)
                const std::string bytes = tqtest::fileBytes(entry.path().string());
                EXPECT_LE(tqtest::longestMailLine(bytes), 998u) << entry.path();
            }
        }
    }

    // Writes `data` to the file `name` in the files folder and returns its path.
    std::string writeFile(const std::string& name, const std::string& data)
    {
        const std::string path = (files.path() + "/").toStdString() + name;
        std::ofstream out(std::filesystem::u8path(path), std::ios::binary);
        out << data;
        return path;
    }

    QTemporaryDir files;
    QTemporaryDir attachments;
    TSmtpClient smtp;
    TPop3Client pop3;
};

} // namespace tq
