# Undoes windows\install.ps1: removes the printer "VellumTransit", the logon task and the
# running printer, and the programs in %ProgramFiles%\VellumTransit. The spool folder and what
# waits in it (pages not yet converted, a PDF not yet delivered) are left alone. Run it from an
# elevated PowerShell:
#
#   powershell -ExecutionPolicy Bypass -File uninstall.ps1
#Requires -RunAsAdministrator
$ErrorActionPreference = 'Stop'

$target = Join-Path $env:ProgramFiles 'VellumTransit'
$taskName = 'VellumTransit Printer'

if (Get-Printer -Name 'VellumTransit' -ErrorAction SilentlyContinue) {
    Remove-Printer -Name 'VellumTransit'
}
if (Get-ScheduledTask -TaskName $taskName -ErrorAction SilentlyContinue) {
    Stop-ScheduledTask -TaskName $taskName -ErrorAction SilentlyContinue
    Unregister-ScheduledTask -TaskName $taskName -Confirm:$false
}
# Any printer still running, for any user, holds the program files open.
Get-Process -Name 'vellumtransit-printer' -ErrorAction SilentlyContinue | Stop-Process -Force
Start-Sleep -Seconds 1
foreach ($exe in 'vellumtransit.exe', 'vellumtransit-printer.exe') {
    $path = Join-Path $target $exe
    if (Test-Path $path) { Remove-Item -Force $path }
}
if ((Test-Path $target) -and -not (Get-ChildItem $target)) { Remove-Item $target }
Write-Host "VellumTransit is removed; $env:WINDIR\VellumTransit and its files are kept."
