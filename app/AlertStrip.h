#pragma once
// The alert strip as assistive technology meets it: an alert whose name is its caption. A new caption
// is announced once (a name change, which screen readers speak); setting the same caption again says
// nothing, and neither do the steps of the upload's ticker, which changes the caption with every
// character sent.

#include <QLabel>
#include <QString>

class AlertStrip : public QLabel {
    Q_OBJECT
public:
    explicit AlertStrip(QWidget* parent = nullptr);

    // Shows `caption`. Unless `quiet`, a caption other than the one last announced is announced.
    void SetCaption(const QString& caption, bool quiet);
    // The caption last announced: the strip's accessible name.
    QString Announced() const { return announced_; }

signals:
    // Told with the accessibility event of each announcement.
    void Announcement(const QString& caption);

private:
    QString announced_;
};

// Whether `next` is one step of the upload's ticker after `previous`: one character appended, the first
// one dropped once the ticker is full.
bool IsTickerStep(const QString& previous, const QString& next);
