#include "app/SecurityView.h"

void ShowSecurity(const MainWindowUi& ui, const SecuritySettings& security) {
    const TlsSettings& tls = security.listener.tls;
    ui.txtSecTls->setText(security.TlsText());
    ui.txtSecCertificate->setText(SecuritySettings::PathText(tls.certificateFile));
    ui.txtSecTrusted->setText(SecuritySettings::PathText(tls.trustedCertificates));
    ui.txtSecPlainPort->setText(security.PlainPortText());
    ui.txtSecCallingAE->setText(security.CallingAeText());
    ui.txtSecNetworks->setText(security.NetworksText());
    ui.txtSecCalledAE->setText(security.CalledAeText());
    ui.txtSecLogFolder->setText(SecuritySettings::PathText(security.logFolder));
}
