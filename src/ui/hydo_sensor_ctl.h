#pragma once

#include <QGroupBox>

#include <array>

class QLabel;
class QRadioButton;
class cTarvelon;

// The eight sensor connectors as options, of which only the sensors of one kind can be
// picked; the programming dialog shows the regulations of the sensor picked here.
class HydoSensorCtl : public QGroupBox
{
    Q_OBJECT
public:
    explicit HydoSensorCtl(QWidget *parent = nullptr);

    // Offers the sensors whose display type belongs to the group of `code` and selects the
    // lowest-numbered of them; SelectedSensor is 0 when there is none.
    void init(cTarvelon &controller, int code);
    int SelectedSensor() const { return m_selected; }
    // Selects sensor `number` when it is offered, without reporting it as picked.
    void select(int number);

signals:
    // The user picked sensor `number`.
    void SensorChanged(int number);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void pick(int number);

    int m_selected = 0;
    std::array<QRadioButton *, 9> m_options{};
    std::array<QLabel *, 9> m_labels{};
};
