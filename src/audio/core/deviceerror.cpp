// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "deviceerror.h"

Q_LOGGING_CATEGORY(lcAudio, "tavrin.audio")

bool mciGetErrorString(quint32 code, QString *text)
{
    struct Entry {
        quint32 code;
        const char *text;
    };
    static const Entry table[] = {
        {MCIERR_NO_ERROR, "エラーはありません。"},
        {MCIERR_INVALID_DEVICE_ID, "無効なデバイス ID です。デバイスが開かれていません。"},
        {MCIERR_HARDWARE, "サウンド デバイスでエラーが発生しました。サウンドの設定を確認してください。"},
        {MCIERR_OUT_OF_MEMORY, "メモリが不足しています。"},
        {MCIERR_CANNOT_LOAD_DRIVER,
         "サウンド サーバーに接続できません。サウンド サービスが動いているか確認してください。"},
        {MCIERR_FILE_NOT_FOUND, "ファイルが見つかりません。パスとファイル名を確認してください。"},
        {MCIERR_DEVICE_NOT_READY, "サウンド デバイスの準備ができていません。"},
        {MCIERR_OUTOFRANGE, "指定された位置が録音の範囲外です。"},
        {MCIERR_FILE_NOT_SAVED,
         "ファイルを保存できませんでした。保存先のフォルダーが存在し、書き込めるか確認してください。"},
        {MCIERR_BAD_TIME_FORMAT, "この時間形式は使えません。"},
        {MCIERR_INVALID_FILE, "WAV ファイルではないか、ファイルが壊れています。"},
        {MCIERR_WAVE_OUTPUTSUNSUITABLE, "この形式を再生できるサウンド デバイスがありません。"},
        {MCIERR_WAVE_INPUTSUNSUITABLE, "この形式で録音できるサウンド デバイスがありません。"},
        {MCIERR_FILE_READ, "ファイルを読み込めませんでした。"},
        {MCIERR_FILE_WRITE,
         "ファイルの書き込み中にエラーが発生しました。ディスクの空き容量を確認してください。"},
        {MCIERR_WAVE_FORMAT_UNSUPPORTED,
         "このファイルの音声形式には対応していません。8 ビットか 16 ビットの PCM (モノラルまたはステレオ) の WAV ファイルが必要です。"},
        {MCIERR_SPOOL_CREATE,
         "録音用の一時ファイルを作成できません。ディスクの空き容量と書き込み権限を確認してください。"},
        {MCIERR_WAVE_OVERRUN, "ディスクへの書き込みが間に合わず、録音の一部が失われました。"},
    };
    for (const Entry &e : table) {
        if (e.code == code) {
            *text = QString::fromUtf8(e.text);
            return true;
        }
    }
    return false;
}

QString errorText(quint32 code)
{
    QString text;
    if (!mciGetErrorString(code, &text))
        text = QStringLiteral("原因不明のエラー");
    return text;
}
