# Sets VellumTransit up as a printer on this Windows machine, in one step. Run it once from an
# elevated PowerShell in the folder that holds vellumtransit.exe and vellumtransit-printer.exe:
#
#   powershell -ExecutionPolicy Bypass -File install.ps1 [-Port 8631] [-Log FILE]
#
# It copies the two programs to %ProgramFiles%\VellumTransit, creates the spool folder
# %WINDIR%\VellumTransit that only the signed-in user's printer and program may use, registers
# the printer to start at each logon of that user (not elevated) and starts it now, and adds
# the printer "VellumTransit" on http://127.0.0.1:PORT/ipp/print, which Windows serves with its
# own IPP class driver. With -Log, the printer appends each request it gets to FILE (a place the
# signed-in user may write to, such as C:\Users\Public\VellumTransit-requests.log).
# windows\uninstall.ps1 undoes it and keeps the log.
#Requires -RunAsAdministrator
param([int]$Port = 8631, [string]$Log = '')
$ErrorActionPreference = 'Stop'

$target = Join-Path $env:ProgramFiles 'VellumTransit'
$spool = Join-Path $env:WINDIR 'VellumTransit'
$printer = Join-Path $target 'vellumtransit-printer.exe'
$taskName = 'VellumTransit Printer'

# 1. The programs, side by side: the printer starts vellumtransit.exe from its own folder.
New-Item -ItemType Directory -Force -Path $target | Out-Null
foreach ($exe in 'vellumtransit.exe', 'vellumtransit-printer.exe') {
    Copy-Item -Force -Path (Join-Path $PSScriptRoot $exe) -Destination $target
}

# The printer runs for the user signed in at the console, and the program it starts with it.
$user = (Get-CimInstance Win32_ComputerSystem).UserName
if (-not $user) { $user = "$env:USERDOMAIN\$env:USERNAME" }

# 2. The spool folder, which the program never creates. Only that user's printer and program
# work in it: that user may change files in it, SYSTEM and the administrators keep full
# control, and no other user may read or plant anything there (the rights the Windows folder
# would pass on are removed; S-1-5-18 is SYSTEM, S-1-5-32-544 the administrators, under any
# display language).
New-Item -ItemType Directory -Force -Path $spool | Out-Null
& icacls.exe $spool /inheritance:r /grant:r '*S-1-5-18:(OI)(CI)F' '*S-1-5-32-544:(OI)(CI)F' `
    "${user}:(OI)(CI)M" | Out-Null
if ($LASTEXITCODE -ne 0) { throw "icacls could not set who may use $spool" }

# 3. The printer starts at each logon of that user, with that user's rights, without a window
# (conhost --headless keeps the console program out of sight).
$arguments = "--headless `"$printer`" --port $Port"
if ($Log) { $arguments += " --log `"$Log`"" }
$action = New-ScheduledTaskAction -Execute "$env:WINDIR\System32\conhost.exe" `
    -Argument $arguments -WorkingDirectory $target
$trigger = New-ScheduledTaskTrigger -AtLogOn -User $user
$principal = New-ScheduledTaskPrincipal -UserId $user -LogonType Interactive -RunLevel Limited
$settings = New-ScheduledTaskSettingsSet -ExecutionTimeLimit ([TimeSpan]::Zero) `
    -AllowStartIfOnBatteries -DontStopIfGoingOnBatteries -MultipleInstances IgnoreNew
Register-ScheduledTask -TaskName $taskName -Action $action -Trigger $trigger `
    -Principal $principal -Settings $settings -Force | Out-Null
Start-ScheduledTask -TaskName $taskName

# The queue is created from what the printer says of itself, so it must be listening first.
$deadline = (Get-Date).AddSeconds(20)
while (-not (Test-NetConnection -ComputerName 127.0.0.1 -Port $Port -InformationLevel Quiet `
            -WarningAction SilentlyContinue)) {
    if ((Get-Date) -gt $deadline) { throw "The printer does not answer on port $Port." }
    Start-Sleep -Milliseconds 500
}

# 4. The queue, on Windows' IPP class driver.
if (Get-Printer -Name 'VellumTransit' -ErrorAction SilentlyContinue) {
    Remove-Printer -Name 'VellumTransit'
}
Add-Printer -Name 'VellumTransit' -IppURL "http://127.0.0.1:$Port/ipp/print"
Write-Host "VellumTransit is installed: print to the printer 'VellumTransit'."
