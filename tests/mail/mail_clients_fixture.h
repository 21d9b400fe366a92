// What the real-server mail tests share: an SMTP and a POP3 client, a folder for
// files to attach and one for received attachments, files written there, and
// both sessions closed after each test.
#pragma once

#include "mail/net/pop3_client.h"
#include "mail/net/smtp_client.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

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
